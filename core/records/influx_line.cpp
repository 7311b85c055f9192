#include "core/records/influx_line.h"

#include <cmath>
#include <cstdio>

#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"

namespace marvalo {
namespace {

constexpr std::size_t kModbusFunctionOffset = 1;

// Microsecond digits: what the clock measured, no float noise.
std::string milliseconds(double ms) {
    return fixedDecimal(ms, 3);
}

void addField(std::string &fields, const std::string &key, const std::string &value) {
    fields += (fields.empty() ? "" : ",") + influxKey(key) + "=" + value;
}

}  // namespace

std::string influxKey(const std::string &text) {
    auto special = [](char c) { return c == ',' || c == '=' || c == ' '; };
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // InfluxDB 1.x keeps a backslash as it is, and has no way to write
        // one that ends the text or comes before a special character: that
        // one is named, as the program names bytes it cannot show.
        if (c == '\\' && (i + 1 == text.size() || special(text[i + 1]))) {
            escaped += "<5C>";
            continue;
        }
        if (special(c))
            escaped.push_back('\\');
        escaped.push_back(c);
    }
    return escaped;
}

std::string influxString(const std::string &text) {
    std::string escaped = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            escaped.push_back('\\');
        escaped.push_back(c);
    }
    return escaped + "\"";
}

std::string influxLine(const ExchangeRecord &record, const RequestInputs &inputs,
                       const std::optional<std::vector<RegisterValue>> &registers,
                       bool interrupted) {
    const bool modbus = record.protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    // As the unit is known: Modbus by number, the text protocols by their
    // address characters ("07").
    const std::string address = modbus ? std::to_string(inputs.addressNumber) : inputs.addressText;
    std::string line = "marvalo,port=" + influxKey(safeText(record.port)) +
                       ",protocol=" + std::string(kProtocolKeys.at(record.protocol)) +
                       ",address=" + influxKey(safeText(address));
    if (modbus && record.request.size() > kModbusFunctionOffset)
        line += ",function=" + std::to_string(record.request[kModbusFunctionOffset]);
    line += ",verdict=";
    line += !record.verdict ? "failed"
            : interrupted   ? "interrupted"
                            : verdictKey(record.verdict->kind);

    std::string fields;
    if (auto ms = record.firstByteMs())
        addField(fields, "first_byte_ms", milliseconds(*ms));
    addField(fields, "duration_ms", milliseconds(record.durationMs()));
    addField(fields, "reply_bytes", std::to_string(record.reply.size()) + "i");
    if (record.failure)
        addField(fields, "failure", influxString(safeText(*record.failure)));
    if (record.warning)
        addField(fields, "warning", influxString(safeText(*record.warning)));
    for (const RegisterValue &value : registers.value_or(std::vector<RegisterValue>{})) {
        const std::string key = "reg_" + std::to_string(value.number);
        if (const std::int64_t *integer = value.integer())
            addField(fields, key, std::to_string(*integer) + "i");
        else if (const float *real = value.real(); real && std::isfinite(*real))
            addField(fields, key, floatText(*real));
        else if (auto *text = std::get_if<std::string>(&value.value))
            addField(fields, key, influxString(safeText(*text)));
    }
    constexpr std::int64_t kNsPerUs = 1000;
    return line + " " + fields + " " + std::to_string(record.wallStartUs * kNsPerUs);
}

}  // namespace marvalo
