#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
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

LoadedSettings LoadSettings(const std::filesystem::path &folder) {
    const std::filesystem::path file = folder / kSettingsFileName;
    LoadedSettings loaded{kDefaultSettings, std::nullopt};
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (errno != ENOENT) {
            loaded.problem = "El archivo de configuración \"" + file.string() +
                             "\" no se pudo leer (" + errnoText(errno) + ").";
        }
        return loaded;
    }
    std::stringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        loaded.problem =
            "El archivo de configuración \"" + file.string() + "\" no se pudo leer hasta el final.";
        return loaded;
    }
    auto parsed = parseSettingsLine(lastSettingsItem(content.str()));
    if (!parsed) {
        loaded.problem = "El archivo de configuración \"" + file.string() +
                         "\" no se pudo usar: " + parsed.error() +
                         ". Se empieza con los valores por defecto (RS232, COM 1, dirección 01, "
                         "9600, ISO 1745); al cerrar se guardarán los que queden elegidos.";
        return loaded;
    }
    loaded.values = parsed.value();
    return loaded;
}

Result<Done, std::string> SaveSettings(const std::filesystem::path &folder, std::uint8_t linkType,
                                       int portSelection, int addressSelection, int baudSelection,
                                       std::uint8_t protocol) {
    const std::filesystem::path file = folder / kSettingsFileName;
    const std::string line =
        formatSettingsLine(linkType, portSelection, addressSelection, baudSelection, protocol) +
        "\r\n";
    auto failed = [&](const std::string &what, int err) -> Result<Done, std::string> {
        return "No se pudo guardar la configuración en \"" + file.string() + "\": " + what + " (" +
               errnoText(err) + "). El archivo anterior queda como estaba.";
    };

    std::string temporary = (folder / (std::string(kSettingsFileName) + ".XXXXXX")).string();
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
    // mkstemp creates 0600; a settings file is not a secret.
    ::fchmod(fd.get(), 0644);
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
    if (FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        dir.valid()) {
        ::fsync(dir.get());
    }
    return Done{};
}

std::filesystem::path chooseSettingsFolder(const std::filesystem::path &programFolder) {
    if (::access(programFolder.c_str(), W_OK) == 0) {
        return programFolder;
    }
    std::filesystem::path config;
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        config = xdg;
    } else if (const char *home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        config = std::filesystem::path(home) / ".config";
    } else {
        return programFolder;
    }
    const std::filesystem::path folder = config / "marvalo";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

}  // namespace marvalo
