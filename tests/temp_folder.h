#pragma once

#include <filesystem>
#include <string>

namespace marvalo::testing {

// A temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path &path() const { return path_; }
    void write(const std::string &name, const std::string &content) const;
    std::string read(const std::string &name) const;

  private:
    std::filesystem::path path_;
};

}  // namespace marvalo::testing
