#include "link/line_settings.h"

#include <vector>

#include "core/text/number_text.h"

namespace marvalo {
namespace {

std::vector<std::string_view> splitCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t comma = text.find(',');
        parts.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return parts;
        text.remove_prefix(comma + 1);
    }
}

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

}  // namespace

bool isSupportedBaud(long baud) {
    return baud >= kMinBaud && baud <= kMaxBaud;
}

Result<LineSettings, std::string> parseLineSettings(std::string_view text) {
    const std::string prefix = "La configuración de línea " + quoted(text) + " no es válida: ";
    const std::vector<std::string_view> parts = splitCommas(text);
    if (parts.size() != 4) {
        return prefix +
               "debe tener la forma velocidad,paridad,bits de datos,bits de parada "
               "(por ejemplo \" 9600,n,8,1\").";
    }
    LineSettings line;

    std::string_view rate = parts[0];
    if (!rate.empty() && rate.front() == ' ') {
        rate.remove_prefix(1);
    }
    const bool digitsOnly =
        !rate.empty() && rate.find_first_not_of("0123456789") == std::string_view::npos;
    const auto baud = digitsOnly ? parseDecimal(rate) : std::nullopt;
    if (!baud || !isSupportedBaud(*baud)) {
        return prefix + "la velocidad " + quoted(parts[0]) + " debe ser un número de baudios de " +
               std::to_string(kMinBaud) + " a " + std::to_string(kMaxBaud) + ".";
    }
    line.baud = static_cast<int>(*baud);

    if (parts[1].size() != 1 ||
        std::string_view("nNeEoO").find(parts[1][0]) == std::string_view::npos) {
        return prefix + "la paridad " + quoted(parts[1]) + " debe ser n, e u o.";
    }
    switch (parts[1][0]) {
        case 'e':
        case 'E':
            line.parity = LineSettings::Parity::Even;
            break;
        case 'o':
        case 'O':
            line.parity = LineSettings::Parity::Odd;
            break;
        default:
            line.parity = LineSettings::Parity::None;
            break;
    }

    if (parts[2] != "7" && parts[2] != "8") {
        return prefix + "los bits de datos " + quoted(parts[2]) + " deben ser 7 u 8.";
    }
    line.dataBits = parts[2][0] - '0';

    if (parts[3] != "1" && parts[3] != "2") {
        return prefix + "los bits de parada " + quoted(parts[3]) + " deben ser 1 o 2.";
    }
    line.stopBits = parts[3][0] - '0';
    return line;
}

}  // namespace marvalo
