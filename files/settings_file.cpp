#include "files/settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include "core/text/byte_text.h"
#include "files/atomic_save.h"
#include "files/bounded_read.h"

namespace marvalo {
namespace {

// A settings file is one line; anything much larger is not one.
constexpr std::size_t kMaxSettingsBytes = 4096;

}  // namespace

LoadedSettings LoadSettings(const std::filesystem::path &folder) {
    return loadSettingsFile(folder / kSettingsFileName);
}

LoadedSettings loadSettingsFile(const std::filesystem::path &file) {
    const std::string named = "El archivo de configuración \"" + safeText(file.string()) + "\"";
    LoadedSettings loaded{kDefaultSettings, std::nullopt, true};
    auto content = readBoundedFile(file, kMaxSettingsBytes);
    if (!content) {
        const ReadProblem &why = content.error();
        switch (why.kind) {
            case ReadProblem::Kind::Missing:
                return loaded;
            case ReadProblem::Kind::TooLarge:
                loaded.problem = named + " no se pudo usar: " + why.reason +
                                 ", y la configuración es una sola línea de 6 dígitos.";
                return loaded;
            case ReadProblem::Kind::NotAFile:
            case ReadProblem::Kind::Unreadable:
                loaded.problem = named + " " + why.reason + ".";
                loaded.replaceable = false;
                return loaded;
        }
    }
    auto parsed = parseSettingsLine(lastSettingsItem(content.value()));
    if (!parsed) {
        loaded.problem = named + " no se pudo usar: " + parsed.error() + ".";
        return loaded;
    }
    loaded.values = parsed.value();
    return loaded;
}

std::string panelSettingsMessage(const LoadedSettings &loaded) {
    return loaded.problem.value_or("") +
           " Se empieza con los valores por defecto (RS232, COM 1, dirección 01, 9600, "
           "ISO 1745)" +
           (loaded.replaceable
                ? "; al cerrar, el archivo se reemplaza por los valores que queden elegidos."
                : "; al cerrar no se guardará nada encima, para no perderlo.");
}

Result<Done, std::string> SaveSettings(const std::filesystem::path &folder, std::uint8_t linkType,
                                       int portSelection, int addressSelection, int baudSelection,
                                       std::uint8_t protocol) {
    const std::filesystem::path file = folder / kSettingsFileName;
    auto saved = saveAtomically(file, formatSettingsLine(linkType, portSelection, addressSelection,
                                                         baudSelection, protocol) +
                                          "\r\n");
    if (!saved) {
        return "No se pudo guardar la configuración en \"" + safeText(resolvedFile(file).string()) +
               "\": " + saved.error() + ". El archivo anterior queda como estaba.";
    }
    return Done{};
}

std::filesystem::path resolvedSettingsFile(const std::filesystem::path &folder) {
    return resolvedFile(folder / kSettingsFileName);
}

bool settingsFileReplaceable(const std::filesystem::path &folder) {
    const std::filesystem::path target = resolvedSettingsFile(folder);
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0)
        return true;  // nothing there to lose; the save says why it fails, if it does
    return S_ISREG(info.st_mode) && ::access(target.c_str(), R_OK) == 0;
}

void removeStaleTemporaries(const std::filesystem::path &folder) {
    removeStaleTemporaries(folder, kSettingsFileName);
}

SettingsPlace chooseSettingsPlace(const std::filesystem::path &programFolder) {
    return chooseFilePlace(programFolder, kSettingsFileName);
}

}  // namespace marvalo
