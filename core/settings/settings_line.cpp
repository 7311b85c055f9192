#include "core/settings/settings_line.h"

#include <array>
#include <vector>

#include "core/settings/panel_state.h"

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

}  // namespace marvalo
