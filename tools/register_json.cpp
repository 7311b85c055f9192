#include "tools/register_json.h"

#include <cmath>

namespace marvalo {
namespace {

// A finite f32 travels through the tree as a string behind this mark, and
// jsonLine puts its digits in as a number. Nothing else in our JSON holds a
// raw control character: text from outside is always named (<01>).
constexpr std::string_view kDigitsMark =
    "\x01"
    "f32 ";
constexpr std::string_view kDumpedMark = "\"\\u0001f32 ";

nlohmann::ordered_json valueJson(const RegisterValue &value) {
    if (const std::int64_t *whole = value.integer())
        return *whole;
    if (const float *real = value.real()) {
        // The float's own shortest digits: 0.1f is written 0.1, not
        // 0.10000000149011612.
        return std::isfinite(*real) ? nlohmann::ordered_json(std::string(kDigitsMark) + value.text)
                                    : nlohmann::ordered_json(value.text);
    }
    return std::get<std::string>(value.value);
}

}  // namespace

nlohmann::ordered_json registersJson(const std::vector<RegisterValue> &values) {
    nlohmann::ordered_json registers = nlohmann::ordered_json::array();
    for (const RegisterValue &value : values) {
        nlohmann::ordered_json one = {{"number", value.number},
                                      {"format", std::string(formatName(value.format))},
                                      {"value", valueJson(value)},
                                      {"raw", toHex(value.raw)}};
        if (value.lone)
            one["lone"] = true;
        registers.push_back(std::move(one));
    }
    return registers;
}

std::string jsonLine(const nlohmann::ordered_json &object) {
    const std::string dumped =
        object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::string line;
    line.reserve(dumped.size());
    std::size_t from = 0;
    for (std::size_t at; (at = dumped.find(kDumpedMark, from)) != std::string::npos;) {
        const std::size_t digits = at + kDumpedMark.size();
        const std::size_t end = dumped.find('"', digits);
        line.append(dumped, from, at - from).append(dumped, digits, end - digits);
        from = end + 1;
    }
    return line.append(dumped, from);
}

}  // namespace marvalo
