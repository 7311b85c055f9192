#include "core/records/record_csv.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/time_text.h"

namespace marvalo {
namespace {

std::string milliseconds(std::optional<double> ms, CsvStyle style) {
    if (!ms)
        return "";
    std::string digits = fixedDecimal(*ms, 3);
    if (style == CsvStyle::DecimalComma)
        std::replace(digits.begin(), digits.end(), '.', ',');
    return digits;
}

char separatorOf(CsvStyle style) {
    return style == CsvStyle::DecimalComma ? ';' : ',';
}

// One per column of the header.
constexpr std::size_t kCsvColumns = 14;

std::string joined(const std::array<std::string, kCsvColumns> &fields, CsvStyle style) {
    const char separator = separatorOf(style);
    std::string line;
    for (const std::string &field : fields) {
        if (!line.empty())
            line.push_back(separator);
        line += csvField(field, separator);
    }
    return line + "\r\n";
}

}  // namespace

CsvStyle csvStyleFor(std::string_view decimalMark) {
    return decimalMark == "," ? CsvStyle::DecimalComma : CsvStyle::Plain;
}

std::string csvField(std::string_view text, char separator) {
    const char special[] = {separator, '"', '\r', '\n', '\0'};
    if (text.find_first_of(special) == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted.push_back('"');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string spreadsheetSafe(std::string text) {
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        text.insert(text.begin(), '\'');
    return text;
}

std::string recordCsvHeader(CsvStyle style) {
    constexpr const char *kByteOrderMark = "\xEF\xBB\xBF";
    // Spanish, as the operator reads them; the values of "modo" and
    // "veredicto" stay the stable keys scripts compare against.
    return kByteOrderMark +
           joined({"hora", "número", "modo", "protocolo", "puerto", "tipo_de_puerto", "ajustes",
                   "petición", "respuesta", "primer_byte_ms", "último_byte_ms", "duración_ms",
                   "veredicto", "texto_del_veredicto"},
                  style);
}

std::string recordCsvLine(const ExchangeRecord &record, CsvStyle style) {
    const auto protocol = record.protocol < kProtocolKeys.size()
                              ? std::string(kProtocolKeys[record.protocol])
                              : std::to_string(record.protocol);
    return joined(
        {iso8601(record.wallStartUs), std::to_string(record.sequence),
         record.mode == ExchangeMode::Single ? "single" : "continuous", protocol,
         spreadsheetSafe(safeText(record.port)), spreadsheetSafe(safeText(record.portKind)),
         spreadsheetSafe(record.settings), toHex(record.request), toHex(record.reply),
         milliseconds(record.firstByteMs(), style), milliseconds(record.lastByteMs(), style),
         milliseconds(record.durationMs(), style),
         record.verdict ? verdictKey(record.verdict->kind) : "failure",
         spreadsheetSafe(
             safeText(record.verdict ? record.verdict->text : record.failure.value_or("")))},
        style);
}

}  // namespace marvalo
