#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/panel_state.h"
#include "link/file_descriptor.h"

namespace marvalo {
namespace {

constexpr std::size_t kLineLength = 6;

struct Position {
    const char *meaning;
    int maxDigit;
};
// Positions 1..6 of the line; the address takes two.
constexpr std::array<Position, kLineLength> kPositions{{
    {"tipo de conexión (0 RS232, 1 RS485)", 1},
    {"puerto (0 a 4 para COM 1 a COM 5)", static_cast<int>(kPortCount) - 1},
    {"decenas de la dirección", 9},
    {"unidades de la dirección", 9},
    {"velocidad (0 a 4 para 1200 a 19200)", static_cast<int>(kBaudCount) - 1},
    {"protocolo (0 Korvel, 1 ISO 1745, 2 Modbus)", static_cast<int>(kProtocolCount) - 1},
}};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string_view> linesOf(std::string_view content) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' || content[i] == '\n') {
            lines.push_back(content.substr(start, i - start));
            if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < content.size())
        lines.push_back(content.substr(start));
    return lines;
}

std::string shown(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string printable;
    for (char c : text.substr(0, kShown)) {
        const auto byte = static_cast<unsigned char>(c);
        printable.push_back(byte < 0x20 || byte == 0x7F ? '?' : c);
    }
    if (text.size() > kShown)
        printable += "…";
    return "\"" + printable + "\"";
}

std::string errnoText(int err) {
    return std::strerror(err);
}

}  // namespace

std::string lastSettingsItem(std::string_view content) {
    std::string last;
    for (std::string_view line : linesOf(content)) {
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        std::size_t pos = 0;
        while (true) {
            while (pos < line.size() && isBlank(line[pos]))
                ++pos;
            std::string item;
            if (pos < line.size() && line[pos] == '"') {
                const std::size_t close = line.find('"', pos + 1);
                item = std::string(line.substr(pos + 1, close == std::string_view::npos
                                                            ? std::string_view::npos
                                                            : close - pos - 1));
                pos = close == std::string_view::npos ? line.size() : close + 1;
                // Anything between the closing quote and the next comma is
                // not part of the item.
                const std::size_t comma = line.find(',', pos);
                pos = comma == std::string_view::npos ? line.size() : comma;
            } else {
                const std::size_t comma = line.find(',', pos);
                const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
                std::string_view raw = line.substr(pos, end - pos);
                while (!raw.empty() && isBlank(raw.back()))
                    raw.remove_suffix(1);
                item = std::string(raw);
                pos = end;
            }
            last = std::move(item);
            if (pos >= line.size())
                break;
            ++pos;  // past the comma: a trailing comma leaves an empty last item
            if (pos >= line.size()) {
                last.clear();
                break;
            }
        }
    }
    return last;
}

Result<SettingsValues, std::string> parseSettingsLine(std::string_view item) {
    if (item.empty()) {
        return std::string("no contiene ninguna línea de configuración");
    }
    if (item.size() < kLineLength) {
        return "la línea " + shown(item) + " tiene " + std::to_string(item.size()) +
               " caracteres y necesita 6 dígitos";
    }
    std::array<int, kLineLength> digits{};
    for (std::size_t i = 0; i < kLineLength; ++i) {
        const char c = item[i];
        if (c < '0' || c > '9') {
            return "la línea " + shown(item) + " tiene " + shown(item.substr(i, 1)) +
                   " en la posición " + std::to_string(i + 1) + " (" + kPositions[i].meaning +
                   "), donde va un dígito";
        }
        digits[i] = c - '0';
        if (digits[i] > kPositions[i].maxDigit) {
            return "la línea " + shown(item) + " tiene " + std::to_string(digits[i]) +
                   " en la posición " + std::to_string(i + 1) + " (" + kPositions[i].meaning +
                   "), que admite de 0 a " + std::to_string(kPositions[i].maxDigit);
        }
    }
    SettingsValues values;
    values.linkType = static_cast<std::uint8_t>(digits[0]);
    values.portIndex = static_cast<std::uint8_t>(digits[1]);
    values.addressIndex = static_cast<std::uint8_t>(10 * digits[2] + digits[3]);
    values.baudIndex = static_cast<std::uint8_t>(digits[4]);
    values.protocol = static_cast<std::uint8_t>(digits[5]);
    return values;
}

std::string formatSettingsLine(std::uint8_t linkType, int portSelection, int addressSelection,
                               int baudSelection, std::uint8_t protocol) {
    if (portSelection < 0)
        portSelection = kDefaultSettings.portIndex;
    if (addressSelection < 0)
        addressSelection = kDefaultSettings.addressIndex;
    if (baudSelection < 0)
        baudSelection = kDefaultSettings.baudIndex;
    return std::to_string(linkType) + std::to_string(portSelection) +
           addressText(addressSelection) + std::to_string(baudSelection) + std::to_string(protocol);
}

namespace {

// A settings file is one line; anything much larger is not one, and reading
// it whole would cost memory for nothing (a link to /dev/zero never ends).
constexpr std::size_t kMaxSettingsBytes = 4096;
constexpr int kMaxLinkHops = 40;  // as the kernel allows

std::string defaultsAndWhatHappensAtClose(bool replacedAtClose) {
    return std::string(
               " Se empieza con los valores por defecto (RS232, COM 1, dirección 01, "
               "9600, ISO 1745)") +
           (replacedAtClose ? "; al cerrar, el archivo se reemplaza por los valores que queden "
                              "elegidos."
                            : "; al cerrar no se guardará nada encima, para no perderlo.");
}

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "una carpeta";
    if (S_ISFIFO(mode))
        return "una tubería (FIFO)";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "un dispositivo";
    if (S_ISSOCK(mode))
        return "un socket";
    return "algo que no es un archivo normal";
}

}  // namespace

std::filesystem::path resolvedSettingsFile(const std::filesystem::path &folder) {
    std::filesystem::path current = folder / kSettingsFileName;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code failed;
        if (!std::filesystem::is_symlink(current, failed))
            return current;
        const std::filesystem::path next = std::filesystem::read_symlink(current, failed);
        if (failed)
            return current;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current;
}

bool settingsFileReplaceable(const std::filesystem::path &folder) {
    const std::filesystem::path target = resolvedSettingsFile(folder);
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0)
        return true;  // nothing there to lose; the save says why it fails, if it does
    return S_ISREG(info.st_mode) && ::access(target.c_str(), R_OK) == 0;
}

LoadedSettings LoadSettings(const std::filesystem::path &folder) {
    return loadSettingsFile(folder / kSettingsFileName);
}

LoadedSettings loadSettingsFile(const std::filesystem::path &file) {
    const std::string named = "El archivo de configuración \"" + file.string() + "\"";
    LoadedSettings loaded{kDefaultSettings, std::nullopt};
    // O_NONBLOCK: a FIFO in the file's place must not hang the start.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno != ENOENT) {
            loaded.problem = named + " no se pudo leer (" + errnoText(errno) + ")." +
                             defaultsAndWhatHappensAtClose(false);
        }
        return loaded;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        loaded.problem = named + " es " + kindOf(info.st_mode) + ", no un archivo." +
                         defaultsAndWhatHappensAtClose(false);
        return loaded;
    }
    std::string content;
    char chunk[kMaxSettingsBytes];
    while (content.size() <= kMaxSettingsBytes) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            loaded.problem = named + " no se pudo leer hasta el final (" + errnoText(errno) + ")." +
                             defaultsAndWhatHappensAtClose(false);
            return loaded;
        }
        if (n == 0)
            break;
        content.append(chunk, static_cast<std::size_t>(n));
    }
    if (content.size() > kMaxSettingsBytes) {
        loaded.problem = named + " no se pudo usar: ocupa más de " +
                         std::to_string(kMaxSettingsBytes) +
                         " bytes, y la configuración es una sola línea de 6 dígitos." +
                         defaultsAndWhatHappensAtClose(true);
        return loaded;
    }
    auto parsed = parseSettingsLine(lastSettingsItem(content));
    if (!parsed) {
        loaded.problem = named + " no se pudo usar: " + parsed.error() + "." +
                         defaultsAndWhatHappensAtClose(true);
        return loaded;
    }
    loaded.values = parsed.value();
    return loaded;
}

Result<Done, std::string> SaveSettings(const std::filesystem::path &folder, std::uint8_t linkType,
                                       int portSelection, int addressSelection, int baudSelection,
                                       std::uint8_t protocol) {
    // Through a link to its target, so the link stays a link.
    const std::filesystem::path file = resolvedSettingsFile(folder);
    const std::filesystem::path targetFolder = file.parent_path();
    const std::string line =
        formatSettingsLine(linkType, portSelection, addressSelection, baudSelection, protocol) +
        "\r\n";
    auto failed = [&](const std::string &what, int err) -> Result<Done, std::string> {
        return "No se pudo guardar la configuración en \"" + file.string() + "\": " + what + " (" +
               errnoText(err) + "). El archivo anterior queda como estaba.";
    };

    std::string temporary = (targetFolder / (std::string(kSettingsFileName) + ".XXXXXX")).string();
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (!fd.valid())
        return failed("no se pudo crear un archivo en la carpeta", errno);
    auto discard = [&] { ::unlink(temporary.c_str()); };

    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd.get(), line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            discard();
            return failed("no se pudo escribir", err);
        }
        written += static_cast<std::size_t>(n);
    }
    // The new file takes the old one's mode and group, so a bench whose file
    // was made group-writable or read-protected stays that way. mkstemp
    // creates 0600; a new settings file is not a secret.
    constexpr mode_t kNewFileMode = 0644;
    constexpr mode_t kPermissionBits = 07777;
    if (struct stat old{}; ::stat(file.c_str(), &old) == 0) {
        ::fchmod(fd.get(), old.st_mode & kPermissionBits);
        (void)::fchown(fd.get(), static_cast<uid_t>(-1), old.st_gid);  // allowed or not
    } else {
        ::fchmod(fd.get(), kNewFileMode);
    }
    if (::fsync(fd.get()) != 0) {
        const int err = errno;
        discard();
        return failed("no se pudo escribir en el disco", err);
    }
    fd.reset();
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int err = errno;
        discard();
        return failed("no se pudo reemplazar el archivo", err);
    }
    // The rename itself must reach the disk too.
    if (FileDescriptor dir(::open(targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        dir.valid()) {
        ::fsync(dir.get());
    }
    return Done{};
}

void removeStaleTemporaries(const std::filesystem::path &folder) {
    // A save cut off (power, SIGKILL) leaves its temporary file behind. One
    // younger than a minute may be another panel's save in progress.
    constexpr auto kStale = std::chrono::minutes(1);
    const std::string prefix = std::string(kSettingsFileName) + ".";
    constexpr std::size_t kRandomPart = 6;  // mkstemp's XXXXXX
    std::error_code failed;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto &entry : std::filesystem::directory_iterator(folder, failed)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != prefix.size() + kRandomPart || name.rfind(prefix, 0) != 0 ||
            !entry.is_regular_file(failed) || entry.is_symlink(failed))
            continue;
        const auto modified = entry.last_write_time(failed);
        if (!failed && now - modified > kStale)
            std::filesystem::remove(entry.path(), failed);
    }
}

std::optional<std::filesystem::path> userSettingsFolder() {
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

SettingsPlace chooseSettingsPlace(const std::filesystem::path &programFolder) {
    const std::filesystem::path besideProgram = resolvedSettingsFile(programFolder).parent_path();
    const auto user = userSettingsFolder();
    if (::access(besideProgram.c_str(), W_OK) == 0 || !user) {
        return {programFolder, programFolder};
    }
    // The bench's own file beside the program counts until the user has
    // saved one of their own.
    std::error_code failed;
    const bool userHasOne =
        std::filesystem::symlink_status(*user / kSettingsFileName, failed).type() !=
        std::filesystem::file_type::not_found;
    return {userHasOne ? *user : programFolder, *user};
}

}  // namespace marvalo
