#include "files/file_places.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string_view>

#include "core/text/byte_text.h"
#include "files/atomic_save.h"

namespace marvalo {

std::optional<std::filesystem::path> userConfigFolder() {
    std::filesystem::path config;
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        config = xdg;
    } else if (const char *home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        config = std::filesystem::path(home) / ".config";
    } else {
        return std::nullopt;
    }
    return config / "marvalo";
}

bool isSystemFolder(const std::filesystem::path &folder) {
    static constexpr std::array<std::string_view, 9> kSystemRoots = {
        "/usr", "/opt", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/snap", "/nix"};
    std::error_code failed;
    std::filesystem::path real = std::filesystem::weakly_canonical(folder, failed);
    if (failed)
        real = folder.lexically_normal();
    const std::string text = real.string();
    for (std::string_view root : kSystemRoots) {
        if (text.rfind(root, 0) == 0 && (text.size() == root.size() || text[root.size()] == '/'))
            return true;
    }
    return false;
}

FilePlace chooseFilePlace(const std::filesystem::path &programFolder, const std::string &fileName) {
    const std::filesystem::path beside = programFolder / fileName;
    const std::filesystem::path target = resolvedFile(beside);
    const auto user = userConfigFolder();
    std::error_code failed;
    const bool danglingLink = std::filesystem::is_symlink(beside, failed) &&
                              !std::filesystem::exists(target, failed) &&
                              ::access(target.parent_path().c_str(), W_OK) != 0;
    const bool keepBeside =
        !isSystemFolder(programFolder) && ::access(target.parent_path().c_str(), W_OK) == 0;
    if (keepBeside || !user)
        return {programFolder, programFolder, std::nullopt};
    const bool userHasOne = std::filesystem::symlink_status(*user / fileName, failed).type() !=
                            std::filesystem::file_type::not_found;
    FilePlace place{userHasOne ? *user : programFolder, *user, std::nullopt};
    if (danglingLink) {
        place.notice = safeText(beside.string()) + " es un enlace a " + safeText(target.string()) +
                       ", que no existe y no se puede crear; se guarda en " +
                       safeText((*user / fileName).string()) + ".";
    }
    return place;
}

}  // namespace marvalo
