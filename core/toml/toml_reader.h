#pragma once

#include <toml++/toml.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/text/text_place.h"

namespace marvalo {

// What a node of a TOML file holds, in the words of a message: "el texto
// \"x\"", "el entero 3", "una tabla".
std::string typeName(const toml::node &node);
// A number as the file wrote it: the shortest text that reads back to it.
std::string shortestText(double value);

// The document, or why it is no TOML, at its place. `what` names the file's
// kind in the message: "el plan", "el instrumento".
Result<toml::table, std::string> parseToml(std::string_view text, const std::string &fileName,
                                           const char *what);

// Reads the tables of one file, collecting every error with its place, so a
// file is refused whole with all that is wrong in it.
class Reader {
  public:
    Reader(std::string file, std::vector<std::string> &errors)
        : file_(std::move(file)), errors_(errors) {}

    TextPlace placeOf(const toml::source_region &region) const {
        return TextPlace{file_, region.begin.line, region.begin.column};
    }
    void error(const toml::node &node, const std::string &what) {
        error(placeOf(node.source()), what);
    }
    void error(const TextPlace &place, const std::string &what) {
        placed_.push_back({place.line, place.column, errors_.size()});
        errors_.push_back(place.text() + ": " + what);
    }
    // Its errors in the file's order, top to bottom, whatever order the
    // checks ran in; an error it did not place keeps its own.
    void putInFileOrder();
    std::size_t errorCount() const { return errors_.size(); }
    const std::string &file() const { return file_; }

    // Every key of `table` must be one of `allowed`.
    void onlyKeys(const toml::table &table, const char *what,
                  std::initializer_list<std::string_view> allowed);
    std::optional<std::string> text(const toml::table &table, const char *key);
    std::optional<long long> integer(const toml::table &table, const char *key, long long low,
                                     long long high);
    std::optional<double> number(const toml::table &table, const char *key);
    std::optional<bool> boolean(const toml::table &table, const char *key);
    // A text that must be one of `choices`.
    std::optional<std::size_t> choice(const toml::table &table, const char *key,
                                      std::initializer_list<std::string_view> choices);

  private:
    struct Placed {
        std::uint32_t line;
        std::uint32_t column;
        std::size_t index;  // in errors_
    };
    std::string file_;
    std::vector<std::string> &errors_;
    std::vector<Placed> placed_;
};

}  // namespace marvalo
