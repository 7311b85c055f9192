#include "tools/modbus_args.h"

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>
#include <vector>

#include "core/frames/bytes.h"
#include "core/frames/request.h"
#include "core/modbus/function_table.h"
#include "core/modbus/modbus_request.h"
#include "core/text/number_text.h"

namespace marvalo {
namespace {

using Field = std::optional<std::string> RequestArgs::*;

RequestArgsProblem usage(std::string message) {
    return {true, std::move(message)};
}
RequestArgsProblem refused(std::string message, std::string_view option = {}) {
    return {false, option.empty() ? std::move(message) : namedMessage(std::move(message), option)};
}

struct Named {
    const char *name;
    Field field;
};
constexpr std::array<Named, 11> kFields{{
    {"--start", &RequestArgs::start},
    {"--words", &RequestArgs::words},
    {"--bits", &RequestArgs::bits},
    {"--value", &RequestArgs::value},
    {"--values", &RequestArgs::values},
    {"--and-mask", &RequestArgs::andMask},
    {"--or-mask", &RequestArgs::orMask},
    {"--read-start", &RequestArgs::readStart},
    {"--data-hex", &RequestArgs::dataHex},
    {"--object", &RequestArgs::object},
    {"--data", &RequestArgs::data},
}};

// Which form gave the request: the function table's, the panel's own, or
// a raw frame.
enum class Form { Table, Panel, Raw };

bool reads(const ModbusFunctionInfo &info, std::string_view option, Form form = Form::Table) {
    // The panel's own forms read theirs alone: what the panel has no box
    // for would be dropped without a word.
    if (!option.starts_with("--"))
        return false;
    return form == Form::Panel ? panelFormReads(info.code, option.substr(2))
                               : layoutReads(info, option.substr(2));
}

// The registers a right answer carries and marvalo-send shows in the
// format: a read's words (3, 4, 23) and a single write's echo (6). A write
// of many (16) answers with where and how many, never with values.
bool replyHoldsRegisters(const ModbusFunctionInfo &info) {
    return (info.reply == ReplyShape::ByteCount && info.count == CountRule::Words) ||
           (info.reply == ReplyShape::Echo && layoutReads(info, "format"));
}

// --registers reads the registers a write carries (6, 16, 23: taken from
// --value(s), shown from a raw frame's), and those of a reply; the panel's
// byte list has none. marvalo-frame takes the same arguments as
// marvalo-send, so the rule is one for both.
bool readsRegisters(const ModbusFunctionInfo &info, Form form) {
    return form != Form::Panel && (layoutReads(info, "format") || replyHoldsRegisters(info));
}

// "--registers no vale para la función 5 (...): se lee en los registros que
// escriben las funciones 6, 16 y 23, y en los de la respuesta de ...".
RequestArgsProblem registersUnread(const std::string &subject) {
    const auto codes = [](bool (*holds)(const ModbusFunctionInfo &)) {
        std::vector<std::string> listed;
        for (const ModbusFunctionInfo &info : modbusFunctions()) {
            if (holds(info))
                listed.push_back(std::to_string(info.code));
        }
        std::string text;
        for (std::size_t i = 0; i < listed.size(); ++i)
            text += (i == 0 ? "" : i + 1 == listed.size() ? " y " : ", ") + listed[i];
        return text;
    };
    return usage("--registers no vale para " + subject +
                 ": se lee en los registros que escriben las funciones " +
                 codes([](const ModbusFunctionInfo &info) { return layoutReads(info, "format"); }) +
                 " (--value, --values o --raw), y en los de la respuesta de las funciones " +
                 codes(replyHoldsRegisters));
}

// "lleva --start y --values, o la forma del panel: --start, --words y --data".
std::string formsOf(const ModbusFunctionInfo &info) {
    std::vector<const char *> keys;
    for (const Named &named : kFields)
        keys.push_back(named.name + 2);
    const auto own = [&info](std::string_view key) { return reads(info, "--" + std::string(key)); };
    if (std::none_of(keys.begin(), keys.end(), own))
        return "no lleva más opciones";
    return functionTakes(info.code, keys, own, "--");
}

// An option the form does not read, by its name, with what the function
// takes instead; a count its values already give, with where it comes from.
std::optional<RequestArgsProblem> unreadOption(const RequestArgs &args,
                                               const ModbusFunctionInfo &info, Form form,
                                               bool registers) {
    const std::string function =
        "la función " + std::to_string(info.code) + " (" + std::string(info.name) + ")";
    if (registers && !readsRegisters(info, form))
        return registersUnread((form == Form::Panel ? "la forma del panel de " : "") + function);
    for (const Named &named : kFields) {
        if (!(args.*named.field) || reads(info, named.name, form))
            continue;
        // A count the layout does not read comes from the values it does.
        if (form == Form::Table && std::string_view(named.name).substr(2) == quantityKey(info) &&
            layoutReads(info, "values"))
            return usage(std::string(named.name) + " no se da en " + function +
                         ": la cuenta sale de --values");
        return usage(std::string(named.name) + " no vale para " + function + ": " + formsOf(info));
    }
    return std::nullopt;
}

Result<int, RequestArgsProblem> number(const std::optional<std::string> &text, const char *option,
                                       long min, long max) {
    if (!text)
        return refused(std::string("Falta ") + option + ": se admite de " + std::to_string(min) +
                       " a " + std::to_string(max) + ".");
    const auto value = parseDecimal(*text);
    if (!value || *value < min || *value > max)
        return refused(std::string(option) + " \"" + *text + "\" no es válido: se admite de " +
                       std::to_string(min) + " a " + std::to_string(max) + ".");
    return static_cast<int>(*value);
}

// A mask in decimal or as 0x hex.
Result<int, RequestArgsProblem> mask(const std::optional<std::string> &text, const char *option) {
    if (text && (text->starts_with("0x") || text->starts_with("0X"))) {
        auto words = wordsFromValues(*text, RegisterView{RegisterFormat::Hex, {}});
        if (words && words.value().size() == 1)
            return static_cast<int>(words.value()[0]);
        return refused(std::string(option) + " \"" + *text +
                       "\" no es válido: se admite de 0 a 65535, o de 0x0000 a 0xFFFF.");
    }
    return number(text, option, 0, 0xFFFF);
}

Result<Bytes, RequestArgsProblem> fromTable(const RequestArgs &args, const ModbusFunctionInfo &info,
                                            int address, std::optional<RegisterView> given) {
    if (auto unread = unreadOption(args, info, Form::Table, given.has_value()))
        return *unread;
    const RegisterView view = given.value_or(RegisterView{});
    ModbusCall call;
    call.address = static_cast<std::uint8_t>(address);
    call.function = info.code;
    auto take = [&](Result<int, RequestArgsProblem> taken, int &into) {
        if (taken)
            into = taken.value();
        return taken.ok() ? std::optional<RequestArgsProblem>() : taken.error();
    };
    std::optional<RequestArgsProblem> wrong;
    if (info.request != RequestLayout::Bare && info.request != RequestLayout::SubFunction &&
        info.request != RequestLayout::Mei && info.request != RequestLayout::ReadWrite)
        wrong = take(number(args.start, "--start", 0, 0xFFFF), call.start);
    switch (info.request) {
        case RequestLayout::StartCount:
            if (!wrong)
                wrong = take(number(readsBits(info) ? args.bits : args.words,
                                    readsBits(info) ? "--bits" : "--words", 1, info.maxQuantity),
                             call.quantity);
            break;
        case RequestLayout::StartValue:
            if (wrong)
                break;
            if (!args.value) {
                wrong = refused(info.code == 5 ? "Falta --value: on u off (1 o 0)."
                                               : "Falta --value: el número a escribir.");
            } else if (info.code == 5) {
                const auto coil = coilValue(*args.value);
                if (!coil)
                    wrong = refused("--value \"" + *args.value +
                                    "\" no es válido para una bobina: on u off (1 o 0).");
                call.value = coil.value_or(false) ? 0xFF00 : 0;
            } else if (isWideFormat(view.format)) {
                wrong = refused(
                    "La función 6 escribe un solo registro: --registers u16, s16 o "
                    "hex; para " +
                    std::string(formatName(view.format)) + " use la 16 con --values.");
            } else if (auto words = wordsFromValues(*args.value, view);
                       !words || words.value().size() != 1) {
                wrong = refused(words ? "--value lleva un solo número; varios, con la 16 y "
                                        "--values."
                                      : words.error(),
                                "--value");
            } else {
                call.value = words.value()[0];
            }
            break;
        case RequestLayout::StartCountBytes:
        case RequestLayout::ReadWrite:
            if (wrong)
                break;
            if (info.request == RequestLayout::ReadWrite &&
                ((wrong =
                      take(number(args.readStart, "--read-start", 0, 0xFFFF), call.readStart)) ||
                 (wrong =
                      take(number(args.words, "--words", 1, info.maxQuantity), call.quantity)) ||
                 (wrong = take(number(args.start, "--start", 0, 0xFFFF), call.start))))
                break;
            if (!args.values) {
                wrong = refused(quantityKey(info) == "bits"
                                    ? "Falta --values: los bits, \"1,0,1\"."
                                    : "Falta --values: los números a escribir.");
            } else if (quantityKey(info) == "bits") {
                auto bits = bitsFromValues(*args.values);
                if (bits)
                    call.bits = std::move(bits).value();
                else
                    wrong = refused(bits.error(), "--values");
            } else {
                auto words = wordsFromValues(*args.values, view);
                if (words)
                    call.words = std::move(words).value();
                else
                    wrong = refused(words.error(), "--values");
            }
            break;
        case RequestLayout::MaskWrite:
            if (!wrong)
                wrong = take(mask(args.andMask, "--and-mask"), call.andMask);
            if (!wrong)
                wrong = take(mask(args.orMask, "--or-mask"), call.orMask);
            break;
        case RequestLayout::SubFunction:
            if (args.dataHex) {
                auto data = bytesFromHexText(*args.dataHex);
                if (!data)
                    wrong = refused("--data-hex \"" + *args.dataHex +
                                    "\" no son bytes en hex (\"12 34\").");
                else
                    call.data = *data;
            }
            break;
        case RequestLayout::Mei: {
            auto objects = deviceObjectsOf(args.object.value_or("basic"));
            if (!objects)
                wrong = refused(objects.error(), "--object");
            else
                std::tie(call.readCode, call.objectId) = objects.value();
            break;
        }
        case RequestLayout::Bare:
            break;
    }
    // A list past one frame is the fault of the option that gave it.
    if (auto tooMany = wrong ? std::nullopt : writtenCountProblem(call))
        wrong = refused("--values " + *tooMany + ".");
    if (wrong)
        return *wrong;
    auto frame = buildModbusCall(call, args.anyAddress);
    if (!frame)
        return refused(frame.error());
    return std::move(frame).value();
}

}  // namespace

bool isPanelModbusForm(const RequestArgs &args) {
    const auto code = args.function ? parseDecimal(*args.function) : std::nullopt;
    if (!code || args.raw)
        return false;
    return *code >= 0 && *code <= 0xFF &&
           isPanelForm(static_cast<std::uint8_t>(*code), [&args](std::string_view key) {
               return std::any_of(kFields.begin(), kFields.end(), [&](const Named &named) {
                   return named.name + 2 == key && args.*named.field;
               });
           });
}

std::optional<RequestArgsProblem> panelFormUnread(const RequestArgs &args, bool registers) {
    const auto code = parseDecimal(args.function.value_or(""));
    const ModbusFunctionInfo *info =
        code ? findModbusFunction(static_cast<std::uint8_t>(*code)) : nullptr;
    return info ? unreadOption(args, *info, Form::Panel, registers) : std::nullopt;
}

Result<Bytes, RequestArgsProblem> modbusFrameFrom(const RequestArgs &args,
                                                  std::optional<int> addressDefault,
                                                  std::optional<RegisterView> view) {
    if (args.raw) {
        for (const Named &named : kFields) {
            if (args.*named.field)
                return usage(std::string(named.name) + " no va con --raw: la trama ya está dada");
        }
        if (args.function || args.address || args.anyAddress)
            return usage(
                "--raw trae su dirección y su función: sin --address, --any-address ni "
                "--function");
        // --crc's word is one of its row's choices, checked as it was taken.
        auto frame = rawModbusFrame(*args.raw, args.crc.value_or("add") == "add");
        if (!frame)
            return refused(frame.error());
        const std::uint8_t code = frame.value().size() > 1 ? frame.value()[1] : 0;
        const ModbusFunctionInfo *info = findModbusFunction(code);
        if (view && !(info && readsRegisters(*info, Form::Raw)))
            return registersUnread("--raw de la función " + std::to_string(code));
        return std::move(frame).value();
    }
    if (args.crc)
        return usage("--crc va con --raw");
    int address = addressDefault.value_or(0);
    if (args.address) {
        const auto given = parseDecimal(*args.address);
        if (!given || *given < 0 || *given > 255)
            return refused("La dirección \"" + *args.address +
                               "\" no es válida: se admite de 1 a 247, 0 para una difusión de "
                               "escritura, o con --any-address hasta 255.",
                           "--address");
        address = static_cast<int>(*given);
    }
    if (!args.function)
        return usage("modbus necesita --function (o --raw)");
    const auto code = parseDecimal(*args.function);
    const ModbusFunctionInfo *info = code && *code >= 0 && *code <= 0xFF
                                         ? findModbusFunction(static_cast<std::uint8_t>(*code))
                                         : nullptr;
    if (!info) {
        std::string known;
        for (const ModbusFunctionInfo &row : modbusFunctions())
            known += (known.empty() ? "" : ", ") + std::to_string(row.code);
        return refused("La función Modbus \"" + *args.function + "\" no está en la tabla: use " +
                           known + ", o --raw para cualquier otra trama.",
                       "--function");
    }
    return fromTable(args, *info, address, view);
}

}  // namespace marvalo
