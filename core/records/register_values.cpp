#include "core/records/register_values.h"

#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "core/frames/check_codes.h"
#include "core/modbus/function_table.h"
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

// "u32, s32 y f32": names as a sentence lists them, the last after `last`.
std::string listed(const std::vector<std::string_view> &names, std::string_view last) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += i == 0 ? "" : i + 1 == names.size() ? last : ", ";
        text += names[i];
    }
    return text;
}

std::string formatList(std::string_view last, bool wideOnly = false) {
    std::vector<std::string_view> names;
    for (const Named &named : kFormats) {
        if (!wideOnly || isWideFormat(named.format))
            names.push_back(named.name);
    }
    return listed(names, last);
}

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

std::string hexOf4(int word) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", word);
    return hex;
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

std::string_view registerFormatNames() {
    static const std::string names = formatList(" o ");
    return names;
}

std::string_view wordOrderNames() {
    static const std::string names = [] {
        std::vector<std::string_view> orders;
        for (const auto &order : kOrders)
            orders.push_back(order.first);
        return listed(orders, " o ");
    }();
    return names;
}

std::string_view registerViewChoices() {
    // Each format by its name, then each 32-bit view with its order.
    static const std::string choices = [] {
        std::string all;
        for (const Named &named : kFormats)
            all += (all.empty() ? "" : " ") + std::string(named.name);
        for (const std::string &name : registerViewNames()) {
            if (name.find(':') != std::string::npos)
                all += " " + name;
        }
        return all;
    }();
    return choices;
}

std::string registerViewName(RegisterView view) {
    std::string name(formatName(view.format));
    for (const auto &[orderName, order] : kOrders) {
        if (isWideFormat(view.format) && order == view.order)
            name += ":" + std::string(orderName);
    }
    return name;
}

const std::vector<std::string> &registerViewNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const Named &named : kFormats) {
            if (!isWideFormat(named.format))
                all.push_back(registerViewName({named.format}));
        }
        for (const Named &named : kFormats) {
            for (const auto &order : kOrders) {
                if (isWideFormat(named.format))
                    all.push_back(registerViewName({named.format, order.second}));
            }
        }
        return all;
    }();
    return names;
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
               "\" no es un formato: " + std::string(registerFormatNames());
    if (colon == std::string_view::npos)
        return view;
    const std::string_view order = text.substr(colon + 1);
    if (!isWideFormat(view.format))
        return std::string(name) + " no lleva orden de palabras; " + formatList(" y ", true) +
               " sí";
    for (const auto &[orderName, value] : kOrders) {
        if (orderName == order)
            return RegisterView{view.format, value};
    }
    return "\"" + std::string(order) +
           "\" no es un orden de palabras: " + std::string(wordOrderNames());
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

std::optional<RegisterValue> decodeRegisterAt(const Bytes &request, const Bytes &reply,
                                              RegisterView view, int number) {
    const std::optional<ReadSpan> span = readSpan(request, reply);
    const int width = isWideFormat(view.format) ? 2 : 1;
    if (!span || number < span->start || number + width > span->start + span->registers)
        return std::nullopt;
    const auto at = static_cast<std::size_t>(number - span->start);
    return decodedAt(reply, kReadHeading + 2 * at, number, view, false);
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

std::optional<std::string> writeConfirmation(const Bytes &request, const Bytes &reply,
                                             RegisterView view) {
    // Only a right answer of a write that echoes what it did.
    const auto form = replyFormOf(request);
    if (!form || !form->info || !form->info->writes || !form->length ||
        reply.size() != *form->length || reply.size() < kRequestLength || !crcHolds(reply) ||
        !std::equal(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(form->echoed),
                    request.begin()))
        return std::nullopt;
    const int first = wordAt(reply, 2);
    const int second = wordAt(reply, 4);
    auto count = [&](const char *one, const char *many) {
        return std::to_string(second) + (second == 1 ? one : many) + std::to_string(first);
    };
    switch (reply[1]) {
        case 16:
            return "escritos " + count(" registro desde ", " registros desde ");
        case 15:
            return "escritas " + count(" bobina desde ", " bobinas desde ");
        case 5: {
            constexpr int kCoilOn = 0xFF00;
            return "bobina " + std::to_string(first) + " forzada a " +
                   (second == kCoilOn ? "ON" : "OFF");
        }
        case 6:
            return "registro " + std::to_string(first) + " escrito: " +
                   decodedAt(reply, 4, first, isWideFormat(view.format) ? RegisterView{} : view,
                             false)
                       .text;
        case 22:
            return "registro " + std::to_string(first) + " con máscara AND " + hexOf4(second) +
                   ", OR " + hexOf4(wordAt(reply, 6));
        default:
            return std::nullopt;
    }
}

namespace {

std::vector<std::string_view> listItems(std::string_view list) {
    std::vector<std::string_view> items;
    while (true) {
        const auto comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        items.push_back(item);
        if (comma == std::string_view::npos)
            return items;
        list.remove_prefix(comma + 1);
    }
}

std::string quotedItem(std::string_view item) {
    return "\"" + std::string(item.substr(0, 24)) + (item.size() > 24 ? "…" : "") + "\"";
}

// "+12" as the panel's boxes take it: from_chars knows no plus sign.
std::string_view withoutPlus(std::string_view item) {
    if (item.size() > 1 && item[0] == '+' && item[1] != '-' && item[1] != '+')
        item.remove_prefix(1);
    return item;
}

Result<std::int64_t, std::string> integerItem(std::string_view item, RegisterView view,
                                              std::int64_t min, std::int64_t max) {
    std::int64_t value = 0;
    std::string_view digits = withoutPlus(item);
    int base = 10;
    if (view.format == RegisterFormat::Hex) {
        if (digits.starts_with("0x") || digits.starts_with("0X"))
            digits.remove_prefix(2);
        base = 16;
    }
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    const std::string range = view.format == RegisterFormat::Hex
                                  ? "de 0 a FFFF"
                                  : "de " + std::to_string(min) + " a " + std::to_string(max);
    if (digits.empty() || end != digits.data() + digits.size() ||
        (error != std::errc{} && error != std::errc::result_out_of_range))
        return "El valor " + quotedItem(item) + " no es un número " +
               std::string(formatName(view.format)) + ": se admite " + range + ".";
    if (error == std::errc::result_out_of_range || value < min || value > max)
        return "El valor " + quotedItem(item) + " está fuera del rango de " +
               std::string(formatName(view.format)) + ": se admite " + range + ".";
    return value;
}

// A, B, C, D (A the most significant) onto the wire in `order`, the inverse
// of how a read takes them.
void appendWide(std::vector<std::uint16_t> &words, std::uint32_t value, WordOrder order) {
    const std::uint8_t a = value >> 24, b = (value >> 16) & 0xFF, c = (value >> 8) & 0xFF,
                       d = value & 0xFF;
    std::array<std::uint8_t, 4> wire{};
    switch (order) {
        case WordOrder::ABCD:
            wire = {a, b, c, d};
            break;
        case WordOrder::CDAB:
            wire = {c, d, a, b};
            break;
        case WordOrder::BADC:
            wire = {b, a, d, c};
            break;
        case WordOrder::DCBA:
            wire = {d, c, b, a};
            break;
    }
    words.push_back(static_cast<std::uint16_t>((wire[0] << 8) | wire[1]));
    words.push_back(static_cast<std::uint16_t>((wire[2] << 8) | wire[3]));
}

}  // namespace

Result<std::vector<std::uint16_t>, std::string> wordsFromValues(std::string_view list,
                                                                RegisterView view) {
    if (view.format == RegisterFormat::Text)
        return std::string("text no se escribe con valores: use u16, s16, hex, u32, s32 o f32.");
    std::vector<std::uint16_t> words;
    for (const std::string_view item : listItems(list)) {
        switch (view.format) {
            case RegisterFormat::U16:
            case RegisterFormat::Hex:
            case RegisterFormat::S16: {
                const bool s16 = view.format == RegisterFormat::S16;
                auto value = integerItem(item, view, s16 ? -32768 : 0, s16 ? 32767 : 65535);
                if (!value)
                    return value.error();
                words.push_back(static_cast<std::uint16_t>(value.value() & 0xFFFF));
                break;
            }
            case RegisterFormat::U32:
            case RegisterFormat::S32: {
                const bool s32 = view.format == RegisterFormat::S32;
                auto value = integerItem(item, view, s32 ? -2147483648LL : 0,
                                         s32 ? 2147483647LL : 4294967295LL);
                if (!value)
                    return value.error();
                appendWide(words, static_cast<std::uint32_t>(value.value() & 0xFFFFFFFF),
                           view.order);
                break;
            }
            case RegisterFormat::F32: {
                float value = 0;
                const std::string_view digits = withoutPlus(item);
                const auto [end, error] =
                    std::from_chars(digits.data(), digits.data() + digits.size(), value);
                if (digits.empty() || end != digits.data() + digits.size() ||
                    error != std::errc{} || !std::isfinite(value))
                    return "El valor " + quotedItem(item) +
                           " no es un número f32: se admite un número finito de hasta "
                           "±3.4028235e+38.";
                appendWide(words, std::bit_cast<std::uint32_t>(value), view.order);
                break;
            }
            case RegisterFormat::Text:
                break;
        }
    }
    return words;
}

std::optional<bool> coilValue(std::string_view text) {
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "1" || lower == "on")
        return true;
    if (lower == "0" || lower == "off")
        return false;
    return std::nullopt;
}

Result<std::vector<bool>, std::string> bitsFromValues(std::string_view list) {
    std::vector<bool> bits;
    for (const std::string_view item : listItems(list)) {
        if (const auto bit = coilValue(item))
            bits.push_back(*bit);
        else
            return "El valor " + quotedItem(item) + " no es un bit: se admite 0 o 1 (off u on).";
    }
    return bits;
}

std::optional<std::vector<RegisterValue>> writtenRegisters(const Bytes &request,
                                                           RegisterView view) {
    constexpr std::size_t kSingleAt = 4;      // 6: start, then the value
    constexpr std::size_t kMultipleAt = 7;    // 16: start, quantity, count
    constexpr std::size_t kReadWriteAt = 11;  // 23: read start and quantity first
    if (request.size() < kRequestLength || !crcHolds(request))
        return std::nullopt;
    std::size_t at = 0;
    std::size_t startAt = 2;
    std::size_t count = 0;
    if (request[1] == 6) {
        at = kSingleAt;
        count = 2;
    } else if (request[1] == 16 && request.size() > kMultipleAt) {
        at = kMultipleAt;
        count = request[6];
    } else if (request[1] == 23 && request.size() > kReadWriteAt) {
        at = kReadWriteAt;
        startAt = 6;
        count = request[10];
    } else {
        return std::nullopt;
    }
    if (at + count + kCrcLength != request.size() || count % 2 != 0)
        return std::nullopt;
    // Laid out as a read's answer, so one decoder serves both.
    Bytes asRead{request[0], request[1], static_cast<std::uint8_t>(count)};
    asRead.insert(asRead.end(), request.begin() + static_cast<std::ptrdiff_t>(at),
                  request.begin() + static_cast<std::ptrdiff_t>(at + count));
    const int start = (request[startAt] << 8) | request[startAt + 1];
    const std::size_t registers = count / 2;
    const std::size_t step = isWideFormat(view.format) ? 2 : 1;
    std::vector<RegisterValue> values;
    for (std::size_t i = 0; i < registers; i += step)
        values.push_back(decodedAt(asRead, kReadHeading + 2 * i, start + static_cast<int>(i), view,
                                   i + step > registers));
    return values;
}

}  // namespace marvalo
