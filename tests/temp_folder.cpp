#include "tests/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace marvalo::testing {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "marvalo-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string &name, const std::string &content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
}

std::string TempFolder::read(const std::string &name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace marvalo::testing
