#include "core/plans/test_plan.h"

#include <toml++/toml.h>
#include <charconv>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <tuple>

#include "core/frames/bytes.h"
#include "core/frames/framing_chars.h"
#include "core/frames/line_timing.h"
#include "core/frames/request.h"
#include "core/modbus/function_table.h"
#include "core/modbus/modbus_request.h"
#include "core/net/server_address.h"
#include "core/plans/reply_pattern.h"
#include "core/records/exchange_record.h"
#include "core/records/register_series.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/toml/toml_reader.h"

namespace marvalo {
namespace {

constexpr int kMostRetries = 100;
constexpr int kMostRepeats = 100000;
constexpr int kMostMs = 3'600'000;
constexpr int kHighestAddress = 99;

void readLine(Reader &reader, const toml::table &table, PlanLine &line) {
    reader.onlyKeys(table, "[line]",
                    {"device", "port", "baud", "link", "parity", "data_bits", "stop_bits", "wait",
                     "stop_on_failure"});
    line.device = reader.text(table, "device");
    if (const auto bad = line.device ? controlCharIn(*line.device) : std::nullopt) {
        reader.error(*table.get("device"),
                     "device tiene el carácter de control " + bad->name + " en la posición " +
                         std::to_string(bad->offset + 1) +
                         "; se admite una ruta o una dirección sin caracteres de control");
        line.device.reset();
    }
    // A server address is checked here, where its place in the file is
    // known, not when the run gets to it.
    if (line.device && net::looksLikeServerAddress(*line.device)) {
        if (auto address = net::parseServerAddress(*line.device); !address)
            reader.error(*table.get("device"), "device: " + address.error());
    }
    if (auto port = reader.integer(table, "port", 1, 5))
        line.port = static_cast<int>(*port);
    if (line.device && line.port)
        reader.error(*table.get("port"),
                     "port y device nombran lo mismo: se admite uno de los dos");
    if (auto baud = reader.integer(table, "baud", kMinBaud, kMaxBaud))
        line.baud = static_cast<int>(*baud);
    if (auto link = reader.choice(table, "link", {"rs232", "rs485"}))
        line.linkType = static_cast<std::uint8_t>(*link);
    if (auto parity = reader.choice(table, "parity", {"none", "even", "odd"}))
        line.parity = static_cast<Parity>(*parity);
    if (auto bits = reader.integer(table, "data_bits", 7, 8))
        line.dataBits = static_cast<int>(*bits);
    if (auto bits = reader.integer(table, "stop_bits", 1, 2))
        line.stopBits = static_cast<int>(*bits);
    if (const toml::node *wait = table.get("wait")) {
        if (wait->is_integer() && wait->as_integer()->get() >= 0 &&
            wait->as_integer()->get() <= kMostMs) {
            line.waitMs = static_cast<int>(wait->as_integer()->get());
        } else if (wait->is_string()) {
            if (auto mode =
                    reader.choice(table, "wait", {"single", "continuous", "until-complete"}))
                line.waitMode = std::array{"single", "continuous", "until-complete"}[*mode];
        } else {
            reader.error(*wait,
                         "wait es " + typeName(*wait) +
                             "; se admite \"single\", \"continuous\", "
                             "\"until-complete\" o un entero de milisegundos de 0 a 3600000");
        }
    }
    line.stopOnFailure = reader.boolean(table, "stop_on_failure").value_or(false);
}

std::optional<std::vector<std::optional<std::uint8_t>>> replyPattern(std::string_view text) {
    std::vector<std::optional<std::uint8_t>> bytes;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ')
            ++at;
        if (at >= text.size())
            break;
        const std::string_view token = text.substr(at, 2);
        if (token.size() < 2 || (at + 2 < text.size() && text[at + 2] != ' '))
            return std::nullopt;
        if (token == "??") {
            bytes.push_back(std::nullopt);
        } else if (auto byte = bytesFromHexText(token); byte && byte->size() == 1) {
            bytes.push_back((*byte)[0]);
        } else {
            return std::nullopt;
        }
        at += 2;
    }
    return bytes;
}

// An integer format's values, and its name for messages.
std::tuple<double, double, const char *> integerRange(RegisterFormat format) {
    return format == RegisterFormat::S16   ? std::tuple{-32768.0, 32767.0, "s16"}
           : format == RegisterFormat::U32 ? std::tuple{0.0, 4294967295.0, "u32"}
           : format == RegisterFormat::S32 ? std::tuple{-2147483648.0, 2147483647.0, "s32"}
                                           : std::tuple{0.0, 65535.0, "u16 o hex"};
}

std::string rangeText(RegisterFormat format) {
    const auto [low, high, name] = integerRange(format);
    char range[80];
    std::snprintf(range, sizeof range, "; un registro %s lee enteros de %.0f a %.0f", name, low,
                  high);
    return range;
}

// The exact values a format can show: an equals outside them never passes.
std::optional<std::string> equalsProblem(double value, RegisterFormat format) {
    // Below the midpoint between the largest float and 2^128 a value rounds
    // to a finite float: FLT_MAX as printed, 3.4028235e+38, is one.
    if (format == RegisterFormat::F32)
        return std::abs(value) < 0x1.ffffffp127
                   ? std::nullopt
                   : std::optional<std::string>("; se admite un número que quepa en un f32");
    const auto [low, high, name] = integerRange(format);
    if (value >= low && value <= high && value == std::trunc(value))
        return std::nullopt;
    return rangeText(format);
}

// Whether [min, max] holds a value the format can show: an integer, or
// a finite float (min and max compare exactly).
bool someValueBetween(double min, double max, RegisterFormat format) {
    if (format != RegisterFormat::F32)
        return std::ceil(min) <= std::floor(max);
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (min > kLargest || max < -kLargest)
        return false;
    float first = min < -kLargest ? -std::numeric_limits<float>::max() : static_cast<float>(min);
    if (double{first} < min)
        first = std::nextafter(first, std::numeric_limits<float>::infinity());
    return double{first} <= max;
}

void readRegister(Reader &reader, const toml::node &entry, PlanStep &step) {
    if (!entry.is_table()) {
        reader.error(entry, "cada registro es " + typeName(entry) +
                                "; se admite { number, equals } o { number, min, max }");
        return;
    }
    const toml::table &fields = *entry.as_table();
    reader.onlyKeys(fields, "un registro", {"number", "equals", "min", "max", "format", "order"});
    RegisterExpectation check;
    auto number = reader.integer(fields, "number", 0, 65535);
    if (!number) {
        if (!fields.get("number"))
            reader.error(entry, "falta number, el número del registro");
        return;
    }
    check.number = static_cast<int>(*number);
    check.equals = reader.number(fields, "equals");
    check.min = reader.number(fields, "min");
    check.max = reader.number(fields, "max");
    if (!fields.get("equals") && !fields.get("min") && !fields.get("max"))
        reader.error(entry, "el registro " + std::to_string(check.number) +
                                " no dice qué se espera; se admite equals, o min y max");
    if (fields.get("equals") && (fields.get("min") || fields.get("max")))
        reader.error(*fields.get(fields.get("min") ? "min" : "max"),
                     "equals ya dice el valor exacto; se admite equals, o min y max, no ambos");
    if (check.min && check.max && *check.min > *check.max)
        reader.error(*fields.get("min"), "min es mayor que max; se admite min <= max");
    std::string viewText = reader.text(fields, "format").value_or("u16");
    if (auto order = reader.text(fields, "order"))
        viewText += ":" + *order;
    if (auto view = parseRegisterView(viewText); !view) {
        reader.error(entry, "format/order: " + view.error());
        return;
    } else if (view.value().format == RegisterFormat::Text) {
        reader.error(*fields.get("format"),
                     "format es \"text\", que no es un número que comparar; se admite u16, s16, "
                     "hex, u32, s32 o f32");
        return;
    } else {
        check.view = view.value();
    }
    if (check.equals) {
        if (auto problem = equalsProblem(*check.equals, check.view.format))
            reader.error(*fields.get("equals"),
                         "equals es " + typeName(*fields.get("equals")) + *problem);
    }
    // Bounds no value of the format reaches, and a second, other equals.
    if (check.view.format != RegisterFormat::F32) {
        const auto [low, high, name] = integerRange(check.view.format);
        const auto unreachable = [&](const char *key) {
            reader.error(*fields.get(key), std::string(key) + " es " + typeName(*fields.get(key)) +
                                               ", que ningún valor alcanza" +
                                               rangeText(check.view.format));
        };
        if (check.min && *check.min > high)
            unreachable("min");
        if (check.max && *check.max < low)
            unreachable("max");
    }
    if (check.min && check.max && *check.min <= *check.max &&
        !someValueBetween(*check.min, *check.max, check.view.format))
        reader.error(*fields.get("min"),
                     "entre min y max no cabe ningún valor que el registro "
                     "pueda leer; se admite un intervalo que incluya alguno");
    for (const RegisterExpectation &earlier : step.expect.registers) {
        if (check.equals && earlier.equals && earlier.number == check.number &&
            earlier.view.format == check.view.format && earlier.view.order == check.view.order &&
            *earlier.equals != *check.equals)
            reader.error(*fields.get("equals"),
                         "el registro " + std::to_string(check.number) + " ya debe ser " +
                             shortestText(*earlier.equals) +
                             "; dos valores distintos no pueden cumplirse a la vez");
    }
    const int width = isWideFormat(check.view.format) ? 2 : 1;
    // Held to the request as built, whichever form gave it: the run numbers
    // the reply's registers by it.
    const auto span = step.request ? askedSpan(*step.request) : std::nullopt;
    const long last = span ? span->start + span->registers - 1 : 0;
    if (span && (check.number < span->start || check.number + width - 1 > last)) {
        reader.error(*fields.get("number"),
                     "number es " + std::to_string(check.number) +
                         (width == 2 ? " (y el siguiente, "
                                       "por ser de 32 bits)"
                                     : "") +
                         ", que la lectura no trae; " +
                         (last - (width - 1) < span->start
                              ? std::string("la lectura no trae registros "
                                            "bastantes para él")
                              : "se admite de " + std::to_string(span->start) + " a " +
                                    std::to_string(last - (width - 1))));
    }
    step.expect.registers.push_back(check);
}

// bits, identity and exception: each only where the step's function can
// bring it.
void readModbusExpectation(Reader &reader, const toml::table &table, PlanStep &step) {
    StepExpectation &expect = step.expect;
    const bool modbus = step.protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    const ModbusFunctionInfo *info = modbus ? findModbusFunction(step.function) : nullptr;
    if (const toml::node *node = table.get("bits")) {
        const bool bitRead = info && readsBits(*info);
        const toml::array *items = node->as_array();
        if (!bitRead) {
            reader.error(*node,
                         "bits solo se aplica a una lectura de bits modbus (function 1 o 2)");
        } else if (!items) {
            reader.error(*node, "bits es " + typeName(*node) + "; se admite una lista de 0 y 1");
        } else {
            std::vector<bool> bits;
            for (const toml::node &item : *items) {
                const auto *bit = item.as_integer();
                if (!bit || (bit->get() != 0 && bit->get() != 1)) {
                    reader.error(item, "cada bit es 0 o 1; este es " + typeName(item));
                    return;
                }
                bits.push_back(bit->get() == 1);
            }
            // As the run counts them: from the request as built.
            const auto form = step.request ? replyFormOf(*step.request) : std::nullopt;
            const auto asked = form ? form->bits : std::nullopt;
            if (asked && bits.size() != *asked)
                reader.error(*node, "bits trae " + std::to_string(bits.size()) +
                                        " valores y el paso lee " + std::to_string(*asked) +
                                        "; se admite uno por bit leído");
            expect.bits = std::move(bits);
        }
    }
    if (const toml::node *node = table.get("identity")) {
        const toml::table *objects = node->as_table();
        if (!info || info->reply != ReplyShape::MeiObjects) {
            reader.error(*node,
                         "identity solo se aplica a una identificación modbus (function 43)");
        } else if (!objects) {
            reader.error(*node, "identity es " + typeName(*node) +
                                    "; se admite una tabla { VendorName = \"…\", … }");
        } else {
            for (auto &&[key, value] : *objects) {
                std::optional<std::uint8_t> id;
                for (std::uint8_t known = 0; known < 7; ++known) {
                    if (deviceObjectName(known) == key.str())
                        id = known;
                }
                if (!id || !value.is_string()) {
                    reader.error(value, std::string(key.str()) +
                                            (id ? " es " + typeName(value) + "; se admite un texto"
                                                : " no es un objeto; se admite VendorName, "
                                                  "ProductCode, MajorMinorRevision, VendorUrl, "
                                                  "ProductName, ModelName o "
                                                  "UserApplicationName"));
                    continue;
                }
                // Compared as the answer's text is shown: by the one rule.
                expect.identity.emplace_back(*id, safeText(value.as_string()->get()));
            }
        }
    }
    if (auto key = reader.text(table, "exception")) {
        const ModbusExceptionInfo *known = modbus ? findModbusException(*key) : nullptr;
        if (!known) {
            std::string list;
            for (const ModbusExceptionInfo &row : modbusExceptions())
                list += (list.empty() ? "" : ", ") + std::string(row.key);
            reader.error(*table.get("exception"),
                         modbus ? "exception es \"" + *key + "\"; se admite " + list
                                : std::string("exception solo se aplica a un paso modbus"));
        } else if (table.get("verdict") && expect.verdict != VerdictKind::Exception) {
            reader.error(*table.get("exception"),
                         "exception pide verdict = \"exception\"; el paso dice otro");
        } else {
            expect.exception = known->code;
            expect.verdict = VerdictKind::Exception;
        }
    }
}

void readExpectation(Reader &reader, const toml::table &table, PlanStep &step) {
    StepExpectation &expect = step.expect;
    reader.onlyKeys(table, "expect",
                    {"verdict", "reply_hex", "text", "registers", "max_first_byte_ms", "bits",
                     "identity", "exception"});
    if (auto key = reader.text(table, "verdict")) {
        bool known = false;
        std::string list;
        for (std::size_t kind = 0; kind < kVerdictKindCount; ++kind) {
            const char *name = verdictKey(static_cast<VerdictKind>(kind));
            list += (list.empty() ? "" : ", ") + std::string(name);
            if (*key == name) {
                expect.verdict = static_cast<VerdictKind>(kind);
                known = true;
            }
        }
        if (!known)
            reader.error(
                *table.get("verdict"),
                "verdict es \"" + *key + "\", que no es ningún veredicto; se admite " + list);
    }
    if (auto hex = reader.text(table, "reply_hex")) {
        expect.replyBytes = replyPattern(*hex);
        expect.replyHexText = *hex;
        if (!expect.replyBytes)
            reader.error(*table.get("reply_hex"),
                         "reply_hex es \"" + *hex +
                             "\"; se admiten bytes en hex separados por espacios, ?? para "
                             "cualquiera (\"01 03 04 ?? ?? 01 2C ?? ??\")");
    }
    const bool modbus = step.protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    if (auto pattern = reader.text(table, "text")) {
        const toml::node &node = *table.get("text");
        if (modbus) {
            reader.error(node, "text no se aplica a un paso modbus; se aplica a korvel e iso1745");
        } else if (auto problem = patternProblem(*pattern)) {
            // The column of the fault itself: past the opening quote.
            PlanPlace place = reader.placeOf(node.source());
            place.column += 1 + static_cast<std::uint32_t>(problem->offset);
            reader.error(place, "text \"" + *pattern +
                                    "\" no es una expresión RE2 válida: " + problem->what);
        } else {
            expect.textPattern = *pattern;
        }
    }
    if (const toml::node *registers = table.get("registers")) {
        const ModbusFunctionInfo *info = findModbusFunction(step.function);
        const bool read = modbus && info && info->count == CountRule::Words &&
                          info->reply == ReplyShape::ByteCount;
        if (!read) {
            reader.error(*registers,
                         "registers solo se aplica a una lectura modbus (function 3 "
                         "o 4, o la 23)");
        } else if (!registers->is_array()) {
            reader.error(*registers, "registers es " + typeName(*registers) +
                                         "; se admite una lista de { number, equals } o "
                                         "{ number, min, max }");
        } else {
            for (const toml::node &entry : *registers->as_array())
                readRegister(reader, entry, step);
        }
    }
    readModbusExpectation(reader, table, step);
    // A broadcast is answered by nobody: no first byte, no reply to compare.
    const bool broadcast = modbus && step.inputs.addressNumber == 0;
    for (const char *key : {"max_first_byte_ms", "reply_hex", "exception"}) {
        if (const toml::node *node = table.get(key); node && broadcast)
            reader.error(*node, std::string(key) +
                                    " no puede cumplirse en una difusión (address 0), a la "
                                    "que ninguna unidad responde");
    }
    if (expect.replyBytes && expect.replyBytes->size() > kMaxReplyBytes)
        reader.error(*table.get("reply_hex"), "reply_hex tiene " +
                                                  std::to_string(expect.replyBytes->size()) +
                                                  " bytes; una respuesta guarda " +
                                                  std::to_string(kMaxReplyBytes) + " como mucho");
    if (const toml::node *node = table.get("max_first_byte_ms")) {
        expect.maxFirstByteMs = reader.number(table, "max_first_byte_ms");
        if (expect.maxFirstByteMs && *expect.maxFirstByteMs < 0) {
            reader.error(*node, "max_first_byte_ms es " + typeName(*node) +
                                    "; se admite un número de milisegundos de 0 en adelante");
            expect.maxFirstByteMs.reset();
        }
    }
    // Silence has no first byte, no text and no registers to judge.
    if (expect.verdict != VerdictKind::Ok) {
        for (const char *key :
             {"max_first_byte_ms", "text", "registers", "reply_hex", "bits", "identity"}) {
            const bool judged =
                expect.verdict != VerdictKind::Silence && std::string_view(key) == "reply_hex";
            if (const toml::node *node = table.get(key); node && !judged)
                reader.error(*node, std::string(key) + " no puede cumplirse con verdict = \"" +
                                        verdictKey(expect.verdict) + "\"; se admite con \"ok\"" +
                                        (std::string_view(key) == "reply_hex"
                                             ? " o con un veredicto que no sea \"silence\""
                                             : ""));
        }
    }
}

// A TOML number as the command line would type it, for the one parser of
// values in every format. Hex reads digits: an integer is its own number
// written in them, a string is them ("BEEF").
std::optional<std::string> numberText(const toml::node &node, bool hex) {
    if (const auto *whole = node.as_integer(); whole && hex) {
        char text[24];
        const auto end = std::to_chars(text, text + sizeof text, whole->get(), 16).ptr;
        return std::string(text, end);
    }
    if (const auto *digits = node.as_string(); digits && hex)
        return digits->get();
    if (const auto *whole = node.as_integer())
        return std::to_string(whole->get());
    if (const auto *real = node.as_floating_point()) {
        char text[40];
        const auto end = std::to_chars(text, text + sizeof text, real->get()).ptr;
        return std::string(text, end);
    }
    return std::nullopt;
}

// `values = [...]` as one "a,b,c" list; an item that is no number is named.
std::optional<std::string> valuesList(Reader &reader, const toml::node &node, bool hex) {
    std::string list;
    const toml::array *items = node.as_array();
    if (!items || items->empty()) {
        reader.error(node, "values es " +
                               (items ? std::string("una lista vacía") : typeName(node)) +
                               "; se admite una lista de al menos un número");
        return std::nullopt;
    }
    for (const toml::node &item : *items) {
        auto text = numberText(item, hex);
        if (!text) {
            reader.error(item, "cada valor es un número; este es " + typeName(item));
            return std::nullopt;
        }
        list += (list.empty() ? "" : ",") + *text;
    }
    return list;
}

// A step of any function in the table, built as marvalo-send builds it
// once the step has no other fault (one fault, one message): what it reads,
// and the first key it lacks.
struct PendingCall {
    ModbusCall call;
    std::string missing;
    bool anyAddress = false;
};
std::optional<PendingCall> readModbusCall(Reader &reader, const toml::table &table, PlanStep &step,
                                          const ModbusFunctionInfo &info, std::uint8_t address) {
    std::string missing;
    for (const char *key : layoutKeys()) {
        if (const toml::node *node = table.get(key); node && !layoutReads(info, key))
            reader.error(*node, std::string(key) + " no se aplica a la función " +
                                    std::to_string(info.code) + " (" + std::string(info.name) +
                                    ")");
    }
    const std::size_t errorsBefore = reader.errorCount();
    ModbusCall call;
    call.address = address;
    call.function = info.code;
    auto word = [&](const char *key, int &into, bool needed, int least = 0, int most = 65535) {
        if (auto value = reader.integer(table, key, least, most))
            into = static_cast<int>(*value);
        else if (needed && !table.get(key) && missing.empty())
            missing = key;
    };
    const bool startCount = info.request == RequestLayout::StartCount;
    if (layoutReads(info, "start"))
        word("start", call.start, true);
    if (layoutReads(info, "read_start"))
        word("read_start", call.readStart, true);
    if (layoutReads(info, "words") || (startCount && layoutReads(info, "bits")))
        word(layoutReads(info, "bits") ? "bits" : "words", call.quantity, true, 1,
             info.maxQuantity);
    if (layoutReads(info, "and_mask"))
        word("and_mask", call.andMask, true);
    if (layoutReads(info, "or_mask"))
        word("or_mask", call.orMask, true);
    std::string viewText = reader.text(table, "format").value_or("u16");
    if (auto order = reader.text(table, "order"))
        viewText += ":" + *order;
    const auto view = parseRegisterView(viewText);
    // An order alone is wrong at its own key (u16 has none), not later as
    // values that could not be read; a key the layout refused is said once.
    if (const char *key = table.get("format") ? "format" : "order"; !view && layoutReads(info, key))
        reader.error(*table.get(key), "format/order: " + view.error());
    else if (view)
        step.writtenView = view.value();
    const bool hex = view && view.value().format == RegisterFormat::Hex;
    if (info.request == RequestLayout::StartValue) {
        const toml::node *node = table.get("value");
        if (!node) {
            missing = missing.empty() ? "value" : missing;
        } else if (info.code == 5) {
            // One parser of a coil's value, as marvalo-send and 15's values.
            std::optional<std::string> text;
            std::optional<bool> coil;
            if (node->is_boolean())
                coil = node->as_boolean()->get();
            else if ((text = node->is_integer() ? numberText(*node, false)
                                                : reader.text(table, "value")))
                coil = coilValue(*text);
            if (coil)
                call.value = *coil ? 0xFF00 : 0;
            else if (text)
                reader.error(*node, "value es \"" + *text +
                                        "\"; una bobina es on u off (1 o 0, true o false)");
        } else if (auto text = numberText(*node, hex); text && view) {
            auto words = wordsFromValues(*text, view.value());
            if (!words)
                reader.error(*node, "value: " + words.error());
            else if (words.value().size() != 1)
                reader.error(*node,
                             "value de la función 6 es un solo registro: format u16, s16 o hex");
            else
                call.value = words.value()[0];
        } else if (!text) {
            reader.error(*node, "value es " + typeName(*node) + "; se admite un número");
        }
    }
    if (layoutReads(info, "values")) {
        const toml::node *node = table.get("values");
        if (!node) {
            missing = missing.empty() ? "values" : missing;
        } else if (auto list = valuesList(reader, *node, hex)) {
            if (quantityKey(info) == "bits") {
                auto bits = bitsFromValues(*list);
                if (bits)
                    call.bits = std::move(bits).value();
                else
                    reader.error(*node, "values: " + bits.error());
            } else if (view) {
                auto words = wordsFromValues(*list, view.value());
                if (words)
                    call.words = std::move(words).value();
                else
                    reader.error(*node, "values: " + words.error());
            }
            // Said at the key: a count past one frame is the list's fault.
            if (auto tooMany = writtenCountProblem(call))
                reader.error(*node, "values " + *tooMany);
        }
    }
    if (auto hex = reader.text(table, "data_hex")) {
        if (auto data = bytesFromHexText(*hex))
            call.data = *data;
        else
            reader.error(*table.get("data_hex"),
                         "data_hex es \"" + *hex + "\"; se admiten bytes en hex (\"12 34\")");
    }
    if (info.request == RequestLayout::Mei) {
        const toml::node *node = table.get("object");
        std::string object = "basic";
        if (node && node->is_integer())
            object = std::to_string(node->as_integer()->get());
        else if (auto text = reader.text(table, "object"))
            object = *text;
        if (auto objects = deviceObjectsOf(object); objects)
            std::tie(call.readCode, call.objectId) = objects.value();
        else if (node)
            reader.error(*node, "object: " + objects.error());
    }
    if (reader.errorCount() != errorsBefore)
        return {};
    return PendingCall{call, missing, false};
}

// `raw = "01 07"`: any frame, its CRC added (or `crc = "keep"`: sent as
// given); judged as far as its function code allows.
void readRawStep(Reader &reader, const toml::table &table, PlanStep &step) {
    auto refuse = [&](const char *key) {
        if (const toml::node *node = table.get(key))
            reader.error(*node, std::string(key) + " no va con raw: la trama ya trae lo suyo");
    };
    for (const char *key : {"address", "function", "data"})
        refuse(key);
    for (const char *key : layoutKeys())
        refuse(key);
    const auto hex = reader.text(table, "raw");
    const auto crc = reader.choice(table, "crc", {"add", "keep"});
    if (!hex)
        return;
    if (auto frame = rawModbusFrame(*hex, crc.value_or(0) == 0); frame) {
        step.function = frame.value()[1];
        // The unit it goes to is the frame's: a broadcast only when that says 0.
        step.inputs.addressNumber = frame.value()[0];
        step.inputs.addressText = addressText(frame.value()[0]);
        step.request = std::move(frame).value();
    } else
        reader.error(*table.get("raw"), "raw: " + frame.error());
}

void readStep(Reader &reader, const toml::table &table, PlanStep &step, std::size_t index) {
    const std::size_t errorsBefore = reader.errorCount();
    reader.onlyKeys(table, "[[step]]",
                    {"name",           "protocol", "address", "instruction", "function",
                     "start",          "words",    "data",    "bits",        "value",
                     "values",         "format",   "order",   "and_mask",    "or_mask",
                     "read_start",     "data_hex", "object",  "raw",         "crc",
                     "any_address",    "expect",   "retries", "delay_ms",    "repeat",
                     "stop_on_failure"});
    step.place = reader.placeOf(table.source());
    step.name = reader.text(table, "name").value_or("paso " + std::to_string(index + 1));
    const auto protocol = reader.choice(table, "protocol", {"korvel", "iso1745", "modbus"});
    if (!table.get("protocol"))
        reader.error(step.place, "el paso \"" + step.name +
                                     "\" no tiene protocol; se admite \"korvel\", \"iso1745\" o "
                                     "\"modbus\"");
    step.protocol = static_cast<std::uint8_t>(protocol.value_or(0));
    const bool modbus = step.protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    const bool raw = modbus && table.get("raw");
    // As --any-address: the reserved 248..255 for a step the table builds.
    const bool anyAddress = modbus && !raw && reader.boolean(table, "any_address").value_or(false);
    std::optional<long long> address;
    if (!raw)
        address = reader.integer(table, "address", 0,
                                 !modbus      ? kHighestAddress
                                 : anyAddress ? 255
                                              : kHighestUnitAddress);
    if (!table.get("address") && !raw)
        reader.error(step.place, "el paso \"" + step.name + "\" no tiene address (" +
                                     (modbus ? "1 a 247" : "0 a 99") + ")");
    RequestInputs &inputs = step.inputs;
    inputs.addressNumber = address ? static_cast<int>(*address) : 0;
    inputs.addressText = addressText(inputs.addressNumber);
    auto notFor = [&](const char *key, const char *protocols) {
        if (const toml::node *node = table.get(key))
            reader.error(*node, std::string(key) + " no se aplica a este protocolo; se aplica a " +
                                    protocols);
    };
    if (const toml::node *node = table.get("crc"); node && !raw)
        reader.error(*node, "crc solo se aplica a un paso raw, cuya trama puede traer el suyo");
    if (const toml::node *node = table.get("any_address"); node && (!modbus || raw))
        reader.error(*node, std::string("any_address no se aplica a ") +
                                (raw ? "raw: la trama va a la dirección que trae"
                                     : "este protocolo; se aplica a modbus"));
    std::optional<PendingCall> pending;
    if (raw) {
        notFor("instruction", "korvel e iso1745");
        readRawStep(reader, table, step);
    } else if (modbus) {
        notFor("instruction", "korvel e iso1745");
        inputs.functionIndex = -1;
        std::optional<std::uint8_t> function;
        const ModbusFunctionInfo *info = nullptr;
        if (auto code = reader.integer(table, "function", 0, 255)) {
            function = static_cast<std::uint8_t>(*code);
            step.function = *function;
            info = findModbusFunction(*function);
            if (!info) {
                std::string known;
                for (const ModbusFunctionInfo &row : modbusFunctions())
                    known += (known.empty() ? "" : ", ") + std::to_string(row.code);
                reader.error(*table.get("function"), "function es " + std::to_string(*code) +
                                                         "; se admite " + known +
                                                         ", u otra trama con raw");
            }
        } else if (!table.get("function")) {
            reader.error(step.place, "el paso \"" + step.name +
                                         "\" no tiene function (1, 2, 3, 4, 5, 6, 15, 16...)");
        }
        // The panel's own forms stay as the panel builds them: 16 with a
        // data list, 5 forcing the coil its data names.
        const bool panelForm = function && isPanelForm(*function, [&table](std::string_view key) {
                                   return table.get(key) != nullptr;
                               });
        if (const toml::node *node = table.get("any_address"); node && panelForm)
            reader.error(*node,
                         "any_address no va con data, la forma del panel (direcciones de "
                         "0 a 99)");
        if (panelForm) {
            inputs.functionIndex = panelFunctionIndex(*function).value_or(-1);
            for (const char *key : layoutKeys()) {
                const toml::node *node = table.get(key);
                if (!node || panelFormReads(*function, key))
                    continue;
                // 5's data is the coil: a start beside it asks for the other form.
                if (key == std::string_view("start"))
                    reader.error(*node,
                                 "start no va con data en la función 5: data es la bobina (0 "
                                 "a 99); para otra, start y value");
                else
                    reader.error(*node, std::string(key) + " no vale para la función " +
                                            std::to_string(info->code) + " (" +
                                            std::string(info->name) + "): " +
                                            functionTakes(
                                                info->code, layoutKeys(),
                                                [info](std::string_view other) {
                                                    return layoutReads(*info, other);
                                                },
                                                ""));
            }
            const bool writing = function == 16;
            if (auto start = reader.integer(table, "start", 0, kMaxStartAddress))
                inputs.instructionText = std::to_string(*start);
            // What one frame carries, below the panel's own limit of 127.
            // A write of no register is no request a unit can carry out.
            if (auto words =
                    reader.integer(table, "words", writing ? 1 : 0,
                                   writing ? findModbusFunction(16)->maxQuantity : kMaxWordCount))
                inputs.wordCountText = std::to_string(*words);
            inputs.dataText = reader.text(table, "data").value_or("");
            if (const auto coil = parseDecimal(inputs.dataText);
                function == 5 && table.get("data") && (!coil || *coil < 0 || *coil > kMaxPanelCoil))
                reader.error(*table.get("data"),
                             "data de la función 5 es la bobina, de 0 a 99; "
                             "para otra, start y value");
        } else if (info) {
            notFor("data", "la función 16 sin values y la 5 sin value (las formas del panel)");
            // Address 0 is a broadcast, which no unit answers: a read there
            // could only pass on silence and would prove nothing.
            if (address && inputs.addressNumber == 0 &&
                (!info->writes || info->reply == ReplyShape::ByteCount))
                reader.error(*table.get("address"),
                             "address es 0, una difusión a la que ninguna unidad responde; la "
                             "función " +
                                 std::to_string(info->code) + " se admite de 1 a 247");
            else if ((pending = readModbusCall(reader, table, step, *info,
                                               static_cast<std::uint8_t>(inputs.addressNumber))))
                pending->anyAddress = anyAddress;
        }
    } else {
        for (const char *key : {"function", "data", "raw"})
            notFor(key, "modbus");
        for (const char *key : layoutKeys())
            notFor(key, "modbus");
        inputs.instructionText = reader.text(table, "instruction").value_or("");
        if (const auto bad = framingCharIn(step.protocol, inputs.instructionText))
            reader.error(*table.get("instruction"),
                         "instruction tiene " + bad->name + " en la posición " +
                             std::to_string(bad->offset + 1) +
                             ", que en la línea cierra o abre una trama y haría de ella dos; se "
                             "admite una instrucción sin " +
                             (modbus               ? ""
                              : step.protocol == 0 ? "<CR>"
                                                   : "<SOH>, <STX> ni <ETX>"));
    }
    step.retries = static_cast<int>(reader.integer(table, "retries", 0, kMostRetries).value_or(0));
    step.delayMs = static_cast<int>(reader.integer(table, "delay_ms", 0, kMostMs).value_or(0));
    step.repeat = static_cast<int>(reader.integer(table, "repeat", 1, kMostRepeats).value_or(1));
    step.stopOnFailure = reader.boolean(table, "stop_on_failure");
    // Built before the expectations, which are held to what it asks; its
    // refusal is said below, for a step without other faults.
    std::optional<std::string> unbuilt;
    if (pending && pending->missing.empty()) {
        if (auto frame = buildModbusCall(pending->call, pending->anyAddress); frame)
            step.request = std::move(frame).value();
        else
            unbuilt = frame.error();
    }
    if (const toml::node *expect = table.get("expect")) {
        if (expect->is_table())
            readExpectation(reader, *expect->as_table(), step);
        else
            reader.error(*expect, "expect es " + typeName(*expect) + "; se admite una tabla");
    }
    // The panel's own refusals, in its words, before anything is sent.
    // Only a step without other faults: one fault, one message.
    if (reader.errorCount() == errorsBefore && pending) {
        if (!pending->missing.empty())
            reader.error(step.place, "el paso \"" + step.name + "\" no tiene " + pending->missing +
                                         ", que la función " + std::to_string(step.function) +
                                         " necesita");
        else if (unbuilt)
            reader.error(step.place, "el paso \"" + step.name + "\": " + *unbuilt);
    } else if (reader.errorCount() == errorsBefore && !step.request) {
        if (auto built = BuildRequest(step.protocol, inputs); !built)
            reader.error(step.place,
                         "el paso \"" + step.name + "\": " + keyedMessage(built.error(), ""));
        else if (auto mismatchedData = mismatchedWriteData(built.value()))
            // Where the operator mends it: at data, which only the panel's
            // form of 16 has, else at the step.
            reader.error(
                table.get("data") ? reader.placeOf(table.get("data")->source()) : step.place,
                "el paso \"" + step.name + "\": " + *mismatchedData +
                    "; dé en data dos bytes por palabra");
    }
}

}  // namespace

Result<TestPlan, std::vector<std::string>> parseTestPlan(std::string_view text,
                                                         const std::string &fileName) {
    std::vector<std::string> errors;
    TestPlan plan;
    plan.name = fileName.substr(fileName.find_last_of('/') + 1);
    if (plan.name.size() > 5 && plan.name.ends_with(".toml"))
        plan.name.resize(plan.name.size() - 5);
    auto parsed = parseToml(text, fileName, "el plan");
    if (!parsed) {
        errors.push_back(parsed.error());
        return errors;
    }
    const toml::table &document = parsed.value();
    Reader reader(fileName, errors);
    reader.onlyKeys(document, "el plan", {"line", "step"});
    if (const toml::node *line = document.get("line")) {
        if (line->is_table())
            readLine(reader, *line->as_table(), plan.line);
        else
            reader.error(*line, "line es " + typeName(*line) + "; se admite la tabla [line]");
    }
    const toml::node *steps = document.get("step");
    if (steps != nullptr && !steps->is_array_of_tables()) {
        reader.error(*steps, "step es " + typeName(*steps) +
                                 "; se admite una lista de pasos, cada uno con su [[step]]");
    } else if (steps == nullptr) {
        errors.push_back(fileName + ":1:1: el plan no tiene ningún [[step]]");
    } else {
        std::size_t index = 0;
        for (const toml::node &step : *steps->as_array()) {
            plan.steps.emplace_back();
            readStep(reader, *step.as_table(), plan.steps.back(), index++);
        }
    }
    reader.putInFileOrder();
    if (!errors.empty())
        return errors;
    return plan;
}

}  // namespace marvalo
