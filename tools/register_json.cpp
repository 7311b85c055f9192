#include "tools/register_json.h"

#include <cmath>

namespace marvalo {
namespace {

nlohmann::ordered_json valueJson(const RegisterValue &value) {
    if (const std::int64_t *whole = value.integer())
        return *whole;
    if (const float *real = value.real()) {
        // asDouble is the float's own shortest digits, and JSON prints
        // those: 0.1f is written 0.1, not 0.10000000149011612.
        return std::isfinite(*real) ? nlohmann::ordered_json(*value.asDouble())
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

}  // namespace marvalo
