#include "core/records/register_values.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "core/frames/check_codes.h"
#include "core/records/register_series.h"
#include "core/text/byte_text.h"

namespace marvalo {
namespace {

constexpr std::size_t kReadHeading = 3;  // address, function, byte count
constexpr std::size_t kCrcLength = 2;
constexpr std::size_t kRequestLength = 8;

struct Named {
    std::string_view name;
    RegisterFormat format;
};
constexpr std::array<Named, 7> kFormats{{{"u16", RegisterFormat::U16},
                                         {"s16", RegisterFormat::S16},
                                         {"hex", RegisterFormat::Hex},
                                         {"u32", RegisterFormat::U32},
                                         {"s32", RegisterFormat::S32},
                                         {"f32", RegisterFormat::F32},
                                         {"text", RegisterFormat::Text}}};
constexpr std::array<std::pair<std::string_view, WordOrder>, 4> kOrders{
    {{"ABCD", WordOrder::ABCD},
     {"CDAB", WordOrder::CDAB},
     {"BADC", WordOrder::BADC},
     {"DCBA", WordOrder::DCBA}}};

std::uint16_t wordAt(const Bytes &bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::uint32_t wideAt(const Bytes &bytes, std::size_t at, WordOrder order) {
    const std::uint8_t w0 = bytes[at], w1 = bytes[at + 1], w2 = bytes[at + 2], w3 = bytes[at + 3];
    std::array<std::uint8_t, 4> abcd{};
    switch (order) {
        case WordOrder::ABCD:
            abcd = {w0, w1, w2, w3};
            break;
        case WordOrder::CDAB:
            abcd = {w2, w3, w0, w1};
            break;
        case WordOrder::BADC:
            abcd = {w1, w0, w3, w2};
            break;
        case WordOrder::DCBA:
            abcd = {w3, w2, w1, w0};
            break;
    }
    return (std::uint32_t{abcd[0]} << 24) | (std::uint32_t{abcd[1]} << 16) |
           (std::uint32_t{abcd[2]} << 8) | abcd[3];
}

std::string quotedText(const std::string &named) {
    std::string quoted = "\"";
    for (const char c : named) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// One register, or one pair, from the reply's bytes at `at`.
RegisterValue decodedAt(const Bytes &reply, std::size_t at, int number, RegisterView view,
                        bool lone) {
    const std::size_t width = isWideFormat(view.format) && !lone ? 4 : 2;
    RegisterValue value;
    value.number = number;
    value.format = lone ? RegisterFormat::U16 : view.format;
    value.raw.assign(reply.begin() + static_cast<std::ptrdiff_t>(at),
                     reply.begin() + static_cast<std::ptrdiff_t>(at + width));
    value.lone = lone;
    const std::uint16_t word = wordAt(reply, at);
    switch (value.format) {
        case RegisterFormat::U16:
            value.value = std::int64_t{word};
            break;
        case RegisterFormat::S16:
            value.value = std::int64_t{static_cast<std::int16_t>(word)};
            break;
        case RegisterFormat::Hex: {
            value.value = std::int64_t{word};
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%04X", word);
            value.text = hex;
            return value;
        }
        case RegisterFormat::U32:
            value.value = std::int64_t{wideAt(reply, at, view.order)};
            break;
        case RegisterFormat::S32:
            value.value = std::int64_t{static_cast<std::int32_t>(wideAt(reply, at, view.order))};
            break;
        case RegisterFormat::F32:
            value.value = std::bit_cast<float>(wideAt(reply, at, view.order));
            value.text = floatText(std::get<float>(value.value));
            return value;
        case RegisterFormat::Text: {
            std::string named = namedText(Bytes{reply[at], reply[at + 1]});
            value.text = quotedText(named);
            value.value = std::move(named);
            return value;
        }
    }
    value.text = std::to_string(std::get<std::int64_t>(value.value));
    return value;
}

}  // namespace

std::string floatText(float value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "Infinity" : "-Infinity";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::optional<double> RegisterValue::asDouble() const {
    if (const std::int64_t *whole = integer())
        return static_cast<double>(*whole);
    if (const float *f = real(); f && !std::isnan(*f)) {
        if (std::isinf(*f))
            return *f;
        // The float's own digits, not the double's noise around them.
        double digits = 0;
        std::from_chars(text.data(), text.data() + text.size(), digits);
        return digits;
    }
    return std::nullopt;
}

std::string_view formatName(RegisterFormat format) {
    for (const Named &named : kFormats) {
        if (named.format == format)
            return named.name;
    }
    return {};
}

bool isWideFormat(RegisterFormat format) {
    return format == RegisterFormat::U32 || format == RegisterFormat::S32 ||
           format == RegisterFormat::F32;
}

Result<RegisterView, std::string> parseRegisterView(std::string_view text) {
    const auto colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    RegisterView view;
    bool known = false;
    for (const Named &format : kFormats) {
        if (format.name == name) {
            view.format = format.format;
            known = true;
        }
    }
    if (!known)
        return "\"" + std::string(name) +
               "\" no es un formato: u16, s16, hex, u32, s32, f32 o text";
    if (colon == std::string_view::npos)
        return view;
    const std::string_view order = text.substr(colon + 1);
    if (!isWideFormat(view.format))
        return std::string(name) + " no lleva orden de palabras; u32, s32 y f32 sí";
    for (const auto &[orderName, value] : kOrders) {
        if (orderName == order)
            return RegisterView{view.format, value};
    }
    return "\"" + std::string(order) + "\" no es un orden de palabras: ABCD, CDAB, BADC o DCBA";
}

std::optional<std::vector<RegisterValue>> decodeRegisters(const Bytes &request, const Bytes &reply,
                                                          RegisterView view) {
    const std::optional<ReadSpan> span = readSpan(request, reply);
    if (!span)
        return std::nullopt;
    const int start = span->start;
    const auto registers = static_cast<std::size_t>(span->registers);
    const std::size_t step = isWideFormat(view.format) ? 2 : 1;
    std::vector<RegisterValue> values;
    for (std::size_t i = 0; i < registers; i += step) {
        const bool lone = i + step > registers;
        values.push_back(
            decodedAt(reply, kReadHeading + 2 * i, start + static_cast<int>(i), view, lone));
    }
    return values;
}

std::string registerText(const RegisterValue &value) {
    return "reg " + std::to_string(value.number) + " = " + value.text +
           (value.lone ? " (u16, registro suelto)" : "");
}

std::string registersLine(const std::vector<RegisterValue> &values) {
    std::string line;
    for (const RegisterValue &value : values)
        line += (line.empty() ? "" : ", ") + registerText(value);
    return line;
}

std::optional<std::string> writeConfirmation(const Bytes &request, const Bytes &reply) {
    constexpr std::size_t kWriteReplyLength = 8;
    if (reply.size() != kWriteReplyLength || request.size() < kWriteReplyLength ||
        !crcHolds(reply) || !std::equal(reply.begin(), reply.begin() + 6, request.begin()))
        return std::nullopt;
    const int first = wordAt(reply, 2);
    const int second = wordAt(reply, 4);
    if (reply[1] == 16) {
        return "escritos " + std::to_string(second) +
               (second == 1 ? " registro desde " : " registros desde ") + std::to_string(first);
    }
    if (reply[1] == 5) {
        constexpr int kCoilOn = 0xFF00;
        return "bobina " + std::to_string(first) + " forzada a " +
               (second == kCoilOn ? "ON" : "OFF");
    }
    return std::nullopt;
}

}  // namespace marvalo
