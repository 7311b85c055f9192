#include "core/toml/toml_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <tuple>
#include <utility>

namespace marvalo {

std::string shortestText(double value) {
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string typeName(const toml::node &node) {
    switch (node.type()) {
        case toml::node_type::string:
            return "el texto \"" + std::string(node.as_string()->get()) + "\"";
        case toml::node_type::integer:
            return "el entero " + std::to_string(node.as_integer()->get());
        case toml::node_type::floating_point:
            return std::isfinite(node.as_floating_point()->get())
                       ? "el número " + shortestText(node.as_floating_point()->get())
                       : std::string("el número ") +
                             (std::isnan(node.as_floating_point()->get()) ? "nan" : "inf");
        case toml::node_type::boolean:
            return node.as_boolean()->get() ? "true" : "false";
        case toml::node_type::table:
            return "una tabla";
        case toml::node_type::array:
            return "una lista";
        default:
            return "una fecha u hora";
    }
}

namespace {

// The parser speaks English; the operator reads its common faults in
// Spanish, the most particular first.
std::string_view spanishParseFault(std::string_view english) {
    static constexpr std::pair<std::string_view, std::string_view> kFaults[] = {
        {"Encountered invalid utf-8", "hay bytes que no son UTF-8: guarde el archivo en UTF-8"},
        {"Encountered overlong utf-8", "hay bytes que no son UTF-8: guarde el archivo en UTF-8"},
        {"Encountered EOF during incomplete utf-8", "el archivo acaba a mitad de un carácter"},
        {"Error while parsing key-value pair: expected value",
         "a la clave le falta su valor: clave = valor"},
        {"Error while parsing key-value pair: cannot redefine", "esa clave ya tiene valor"},
        {"Error while parsing key-value pair", "se espera clave = valor"},
        {"Error while parsing table header: expected ']'", "a la cabecera le falta su ']'"},
        {"Error while parsing table header", "la cabecera no es [nombre] ni [[nombre]]"},
        {"Error while parsing key",
         "la clave no es válida: letras, cifras, _ y -, o entre comillas"},
        {"Error while parsing string", "el texto entre comillas no es válido o no se cierra"},
        {"Error while parsing literal string",
         "el texto entre comillas no es válido o no se cierra"},
        {"Error while parsing array", "la lista [ ... ] no es válida"},
        {"Error while parsing inline table", "la tabla { ... } no es válida"},
        {"Error while parsing value",
         "el valor no es un texto entre comillas, un número, true, false, una lista ni una tabla"},
    };
    for (const auto &[prefix, spanish] : kFaults) {
        if (english.starts_with(prefix))
            return spanish;
    }
    return "el TOML no es válido aquí";
}

}  // namespace

Result<toml::table, std::string> parseToml(std::string_view text, const std::string &fileName,
                                           const char *what) {
    try {
        return toml::parse(text, fileName);
    } catch (const toml::parse_error &wrong) {
        const auto &at = wrong.source().begin;
        return TextPlace{fileName, at.line, at.column}.text() + ": " + what +
               " no es TOML válido: línea " + std::to_string(at.line) + ", columna " +
               std::to_string(at.column) + " (" +
               std::string(spanishParseFault(wrong.description())) + ")";
    }
}

// Every key of `table` must be one of `allowed`.
void Reader::onlyKeys(const toml::table &table, const char *what,
                      std::initializer_list<std::string_view> allowed) {
    for (auto &&[key, node] : table) {
        bool known = false;
        std::string list;
        for (std::string_view name : allowed) {
            known = known || key.str() == name;
            list += (list.empty() ? "" : ", ") + std::string(name);
        }
        if (!known) {
            error(placeOf(key.source()), "la clave \"" + std::string(key.str()) +
                                             "\" no existe en " + what + "; se admiten: " + list);
        }
    }
}

std::optional<std::string> Reader::text(const toml::table &table, const char *key) {
    const toml::node *node = table.get(key);
    if (node == nullptr)
        return std::nullopt;
    if (!node->is_string()) {
        error(*node, std::string(key) + " es " + typeName(*node) + "; se admite un texto");
        return std::nullopt;
    }
    return std::string(node->as_string()->get());
}

std::optional<long long> Reader::integer(const toml::table &table, const char *key, long long low,
                                         long long high) {
    const toml::node *node = table.get(key);
    if (node == nullptr)
        return std::nullopt;
    if (!node->is_integer() || node->as_integer()->get() < low ||
        node->as_integer()->get() > high) {
        error(*node, std::string(key) + " es " + typeName(*node) + "; se admite un entero de " +
                         std::to_string(low) + " a " + std::to_string(high));
        return std::nullopt;
    }
    return node->as_integer()->get();
}

std::optional<double> Reader::number(const toml::table &table, const char *key) {
    const toml::node *node = table.get(key);
    if (node == nullptr)
        return std::nullopt;
    // NaN would make every comparison false: a check that never fails.
    if (auto value = node->value<double>(); value && node->is_number() && std::isfinite(*value))
        return *value;
    error(*node, std::string(key) + " es " + typeName(*node) + "; se admite un número finito");
    return std::nullopt;
}

std::optional<bool> Reader::boolean(const toml::table &table, const char *key) {
    const toml::node *node = table.get(key);
    if (node == nullptr)
        return std::nullopt;
    if (!node->is_boolean()) {
        error(*node, std::string(key) + " es " + typeName(*node) + "; se admite true o false");
        return std::nullopt;
    }
    return node->as_boolean()->get();
}

// A text that must be one of `choices`.
std::optional<std::size_t> Reader::choice(const toml::table &table, const char *key,
                                          std::initializer_list<std::string_view> choices) {
    auto value = text(table, key);
    if (!value)
        return std::nullopt;
    std::size_t index = 0;
    std::string list;
    for (std::string_view name : choices) {
        if (name == *value)
            return index;
        list += (list.empty() ? "" : ", ") + std::string("\"") + std::string(name) + "\"";
        ++index;
    }
    error(*table.get(key), std::string(key) + " es \"" + *value + "\"; se admite " + list);
    return std::nullopt;
}

void Reader::putInFileOrder() {
    std::vector<Placed> sorted = placed_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Placed &a, const Placed &b) {
        return std::tie(a.line, a.column) < std::tie(b.line, b.column);
    });
    std::vector<std::string> texts;
    for (const Placed &placed : sorted)
        texts.push_back(errors_[placed.index]);
    for (std::size_t i = 0; i < placed_.size(); ++i)
        errors_[placed_[i].index] = std::move(texts[i]);
}

}  // namespace marvalo
