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
#include "core/frames/line_timing.h"
#include "core/frames/request.h"
#include "core/net/server_address.h"
#include "core/plans/reply_pattern.h"
#include "core/text/number_text.h"

namespace marvalo {
namespace {

constexpr int kMostRetries = 100;
constexpr int kMostRepeats = 100000;
constexpr int kMostMs = 3'600'000;
constexpr int kHighestAddress = 99;

// A number as the plan wrote it: the shortest text that reads back to it.
std::string shortestText(double value) {
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string typeName(const toml::node &node) {
    switch (node.type()) {
        case toml::node_type::string:
            return "el texto \"" + std::string(node.as_string()->get()) + "\"";
        case toml::node_type::integer:
            return "el entero " + std::to_string(node.as_integer()->get());
        case toml::node_type::floating_point:
            return std::isfinite(node.as_floating_point()->get())
                       ? "el número " + shortestText(node.as_floating_point()->get())
                       : std::string("el número ") +
                             (std::isnan(node.as_floating_point()->get()) ? "nan" : "inf");
        case toml::node_type::boolean:
            return node.as_boolean()->get() ? "true" : "false";
        case toml::node_type::table:
            return "una tabla";
        case toml::node_type::array:
            return "una lista";
        default:
            return "una fecha u hora";
    }
}

// Reads one table of the plan, collecting every error with its place.
class Reader {
  public:
    Reader(std::string file, std::vector<std::string> &errors)
        : file_(std::move(file)), errors_(errors) {}

    PlanPlace placeOf(const toml::source_region &region) const {
        return PlanPlace{file_, region.begin.line, region.begin.column};
    }
    void error(const toml::node &node, const std::string &what) {
        errors_.push_back(placeOf(node.source()).text() + ": " + what);
    }
    void error(const PlanPlace &place, const std::string &what) {
        errors_.push_back(place.text() + ": " + what);
    }
    std::size_t errorCount() const { return errors_.size(); }

    // Every key of `table` must be one of `allowed`.
    void onlyKeys(const toml::table &table, const char *what,
                  std::initializer_list<std::string_view> allowed) {
        for (auto &&[key, node] : table) {
            bool known = false;
            std::string list;
            for (std::string_view name : allowed) {
                known = known || key.str() == name;
                list += (list.empty() ? "" : ", ") + std::string(name);
            }
            if (!known) {
                errors_.push_back(placeOf(key.source()).text() + ": la clave \"" +
                                  std::string(key.str()) + "\" no existe en " + what +
                                  "; se admiten: " + list);
            }
        }
    }

    std::optional<std::string> text(const toml::table &table, const char *key) {
        const toml::node *node = table.get(key);
        if (node == nullptr)
            return std::nullopt;
        if (!node->is_string()) {
            error(*node, std::string(key) + " es " + typeName(*node) + "; se admite un texto");
            return std::nullopt;
        }
        return std::string(node->as_string()->get());
    }

    std::optional<long long> integer(const toml::table &table, const char *key, long long low,
                                     long long high) {
        const toml::node *node = table.get(key);
        if (node == nullptr)
            return std::nullopt;
        if (!node->is_integer() || node->as_integer()->get() < low ||
            node->as_integer()->get() > high) {
            error(*node, std::string(key) + " es " + typeName(*node) + "; se admite un entero de " +
                             std::to_string(low) + " a " + std::to_string(high));
            return std::nullopt;
        }
        return node->as_integer()->get();
    }

    std::optional<double> number(const toml::table &table, const char *key) {
        const toml::node *node = table.get(key);
        if (node == nullptr)
            return std::nullopt;
        // NaN would make every comparison false: a check that never fails.
        if (auto value = node->value<double>(); value && node->is_number() && std::isfinite(*value))
            return *value;
        error(*node, std::string(key) + " es " + typeName(*node) + "; se admite un número finito");
        return std::nullopt;
    }

    std::optional<bool> boolean(const toml::table &table, const char *key) {
        const toml::node *node = table.get(key);
        if (node == nullptr)
            return std::nullopt;
        if (!node->is_boolean()) {
            error(*node, std::string(key) + " es " + typeName(*node) + "; se admite true o false");
            return std::nullopt;
        }
        return node->as_boolean()->get();
    }

    // A text that must be one of `choices`.
    std::optional<std::size_t> choice(const toml::table &table, const char *key,
                                      std::initializer_list<std::string_view> choices) {
        auto value = text(table, key);
        if (!value)
            return std::nullopt;
        std::size_t index = 0;
        std::string list;
        for (std::string_view name : choices) {
            if (name == *value)
                return index;
            list += (list.empty() ? "" : ", ") + std::string("\"") + std::string(name) + "\"";
            ++index;
        }
        error(*table.get(key), std::string(key) + " es \"" + *value + "\"; se admite " + list);
        return std::nullopt;
    }

  private:
    std::string file_;
    std::vector<std::string> &errors_;
};

void readLine(Reader &reader, const toml::table &table, PlanLine &line) {
    reader.onlyKeys(table, "[line]",
                    {"device", "port", "baud", "link", "parity", "data_bits", "stop_bits", "wait",
                     "stop_on_failure"});
    line.device = reader.text(table, "device");
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
        line.parity = std::array{'n', 'e', 'o'}[*parity];
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

// The first and last register a read brings, for the checks that name one.
struct ReadRange {
    long first = 0;
    long last = -1;  // first - 1: no register at all
};

std::optional<ReadRange> rangeOf(const RequestInputs &inputs) {
    const auto start = parseDecimal(inputs.instructionText);
    const auto words = parseDecimal(inputs.wordCountText);
    if (!start || !words)
        return std::nullopt;
    return ReadRange{*start, *start + *words - 1};
}

// The exact values a format can show: an equals outside them never passes.
std::optional<std::string> equalsProblem(double value, RegisterFormat format) {
    if (format == RegisterFormat::F32)
        return std::abs(value) <= std::numeric_limits<float>::max()
                   ? std::nullopt
                   : std::optional<std::string>("; se admite un número que quepa en un f32");
    const auto [low, high, name] =
        format == RegisterFormat::S16   ? std::tuple{-32768.0, 32767.0, "s16"}
        : format == RegisterFormat::U32 ? std::tuple{0.0, 4294967295.0, "u32"}
        : format == RegisterFormat::S32 ? std::tuple{-2147483648.0, 2147483647.0, "s32"}
                                        : std::tuple{0.0, 65535.0, "u16 o hex"};
    if (value >= low && value <= high && value == std::trunc(value))
        return std::nullopt;
    char range[80];
    std::snprintf(range, sizeof range, "; un registro %s lee enteros de %.0f a %.0f", name, low,
                  high);
    return std::string(range);
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
    const int width = isWideFormat(check.view.format) ? 2 : 1;
    if (const auto range = rangeOf(step.inputs);
        range && (check.number < range->first || check.number + width - 1 > range->last)) {
        reader.error(*fields.get("number"),
                     "number es " + std::to_string(check.number) +
                         (width == 2 ? " (y el siguiente, "
                                       "por ser de 32 bits)"
                                     : "") +
                         ", que la lectura no trae; " +
                         (range->last - (width - 1) < range->first
                              ? std::string("la lectura no trae registros "
                                            "bastantes para él")
                              : "se admite de " + std::to_string(range->first) + " a " +
                                    std::to_string(range->last - (width - 1))));
    }
    step.expect.registers.push_back(check);
}

void readExpectation(Reader &reader, const toml::table &table, PlanStep &step) {
    StepExpectation &expect = step.expect;
    reader.onlyKeys(table, "expect",
                    {"verdict", "reply_hex", "text", "registers", "max_first_byte_ms"});
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
        const bool read =
            modbus &&
            (step.inputs.functionIndex == static_cast<int>(ModbusFunctionIndex::ReadHolding) ||
             step.inputs.functionIndex == static_cast<int>(ModbusFunctionIndex::ReadInput));
        if (!read) {
            reader.error(*registers,
                         "registers solo se aplica a una lectura modbus (function 3 "
                         "o 4)");
        } else if (!registers->is_array()) {
            reader.error(*registers, "registers es " + typeName(*registers) +
                                         "; se admite una lista de { number, equals } o "
                                         "{ number, min, max }");
        } else {
            for (const toml::node &entry : *registers->as_array())
                readRegister(reader, entry, step);
        }
    }
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
        for (const char *key : {"max_first_byte_ms", "text", "registers", "reply_hex"}) {
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

void readStep(Reader &reader, const toml::table &table, PlanStep &step, std::size_t index) {
    const std::size_t errorsBefore = reader.errorCount();
    reader.onlyKeys(table, "[[step]]",
                    {"name", "protocol", "address", "instruction", "function", "start", "words",
                     "data", "expect", "retries", "delay_ms", "repeat", "stop_on_failure"});
    step.place = reader.placeOf(table.source());
    step.name = reader.text(table, "name").value_or("paso " + std::to_string(index + 1));
    const auto protocol = reader.choice(table, "protocol", {"korvel", "iso1745", "modbus"});
    if (!table.get("protocol"))
        reader.error(step.place, "el paso \"" + step.name +
                                     "\" no tiene protocol; se admite \"korvel\", \"iso1745\" o "
                                     "\"modbus\"");
    step.protocol = static_cast<std::uint8_t>(protocol.value_or(0));
    const bool modbus = step.protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    const auto address = reader.integer(table, "address", 0, kHighestAddress);
    if (!table.get("address"))
        reader.error(step.place, "el paso \"" + step.name + "\" no tiene address (0 a 99)");
    RequestInputs &inputs = step.inputs;
    inputs.addressNumber = static_cast<int>(address.value_or(0));
    inputs.addressText = addressText(inputs.addressNumber);
    auto notFor = [&](const char *key, const char *protocols) {
        if (const toml::node *node = table.get(key))
            reader.error(*node, std::string(key) + " no se aplica a este protocolo; se aplica a " +
                                    protocols);
    };
    if (modbus) {
        notFor("instruction", "korvel e iso1745");
        inputs.functionIndex = -1;
        if (auto code = reader.integer(table, "function", 0, 255)) {
            for (std::size_t i = 0; i < kModbusFunctions.size(); ++i) {
                if (kModbusFunctions[i].code == *code)
                    inputs.functionIndex = static_cast<int>(i);
            }
            if (inputs.functionIndex < 0)
                reader.error(*table.get("function"),
                             "function es " + std::to_string(*code) + "; se admite 3, 4, 16 o 5");
        } else if (!table.get("function")) {
            reader.error(step.place,
                         "el paso \"" + step.name + "\" no tiene function (3, 4, 16 o 5)");
        }
        // The builder's own ranges, so the plan is refused once, here.
        const bool writing =
            inputs.functionIndex == static_cast<int>(ModbusFunctionIndex::WriteWords);
        if (auto start = reader.integer(table, "start", 0, kMaxStartAddress))
            inputs.instructionText = std::to_string(*start);
        if (auto words =
                reader.integer(table, "words", 0, writing ? kMaxWriteWordCount : kMaxWordCount))
            inputs.wordCountText = std::to_string(*words);
        inputs.dataText = reader.text(table, "data").value_or("");
        // Address 0 is a broadcast, which no unit answers: a read there
        // could only pass on silence and would prove nothing.
        const bool reading =
            inputs.functionIndex == static_cast<int>(ModbusFunctionIndex::ReadHolding) ||
            inputs.functionIndex == static_cast<int>(ModbusFunctionIndex::ReadInput);
        if (reading && address && *address == 0)
            reader.error(*table.get("address"),
                         "address es 0, una difusión a la que ninguna unidad responde; una "
                         "lectura (function 3 o 4) se admite de 1 a 99");
    } else {
        for (const char *key : {"function", "start", "words", "data"})
            notFor(key, "modbus");
        inputs.instructionText = reader.text(table, "instruction").value_or("");
    }
    step.retries = static_cast<int>(reader.integer(table, "retries", 0, kMostRetries).value_or(0));
    step.delayMs = static_cast<int>(reader.integer(table, "delay_ms", 0, kMostMs).value_or(0));
    step.repeat = static_cast<int>(reader.integer(table, "repeat", 1, kMostRepeats).value_or(1));
    step.stopOnFailure = reader.boolean(table, "stop_on_failure");
    if (const toml::node *expect = table.get("expect")) {
        if (expect->is_table())
            readExpectation(reader, *expect->as_table(), step);
        else
            reader.error(*expect, "expect es " + typeName(*expect) + "; se admite una tabla");
    }
    // The panel's own refusals, in its words, before anything is sent.
    // Only a step without other faults: one fault, one message.
    if (reader.errorCount() == errorsBefore) {
        if (auto built = BuildRequest(step.protocol, inputs); !built)
            reader.error(step.place, "el paso \"" + step.name + "\": " + built.error().message);
    }
}

}  // namespace

std::string PlanPlace::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

Result<TestPlan, std::vector<std::string>> parseTestPlan(std::string_view text,
                                                         const std::string &fileName) {
    std::vector<std::string> errors;
    TestPlan plan;
    plan.name = fileName.substr(fileName.find_last_of('/') + 1);
    if (plan.name.size() > 5 && plan.name.ends_with(".toml"))
        plan.name.resize(plan.name.size() - 5);
    toml::table document;
    try {
        document = toml::parse(text, fileName);
    } catch (const toml::parse_error &wrong) {
        // The parser speaks English: its words come last, in parentheses.
        const auto &at = wrong.source().begin;
        errors.push_back(PlanPlace{fileName, at.line, at.column}.text() +
                         ": el plan no es TOML válido: línea " + std::to_string(at.line) +
                         ", columna " + std::to_string(at.column) + " (" +
                         std::string(wrong.description()) + ")");
        return errors;
    }
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
    if (!errors.empty())
        return errors;
    return plan;
}

}  // namespace marvalo
