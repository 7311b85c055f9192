#include "core/frames/request.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/text/latin1.h"
#include "core/text/number_text.h"

namespace marvalo {
namespace {

// The panel's functions other than its two reads.
constexpr std::uint8_t kForceCoil = 5;
constexpr std::uint8_t kWriteWords = 16;
// Function 5 with FF 00 forces the coil on; the panel never forces one off.
constexpr std::uint8_t kCoilOnHigh = 0xFF;
constexpr std::uint8_t kCoilOnLow = 0x00;

// Which keys the builder reads for each of the panel's forms; `tableKey`
// beside the code picks the function table's layout instead, and a form
// with `needs` is the panel's only when that key is given.
struct PanelForm {
    std::uint8_t code;
    std::array<std::string_view, 3> reads;
    std::string_view tableKey;
    std::string_view needs;
};
constexpr std::array<PanelForm, 2> kPanelForms{{
    {kWriteWords, {"start", "words", "data"}, "values", {}},
    {kForceCoil, {"data"}, "value", "data"},
}};

const PanelForm *panelFormOf(std::uint8_t code) {
    const auto form = std::find_if(kPanelForms.begin(), kPanelForms.end(),
                                   [code](const PanelForm &form) { return form.code == code; });
    return form == kPanelForms.end() ? nullptr : &*form;
}

// "a, b y c", each behind `prefix`.
std::string spokenList(const std::vector<std::string_view> &items, std::string_view prefix) {
    std::string list;
    for (std::size_t i = 0; i < items.size(); ++i)
        list += (i == 0                  ? ""
                 : i + 1 == items.size() ? " y "
                                         : ", ") +
                std::string(prefix) + std::string(items[i]);
    return list;
}

// How each numeric input is named to the operator: by what it is and by the
// caption of the box it was typed into.
struct NumberInput {
    RequestField field;
    std::string_view subject;  // "La dirección de inicio (\"Direc. 1 Palabra\")"
    long min;
    long max;
    std::string_view qualifier;  // extra words after the range, may be empty
    std::string_view empty;      // "vacío" or "vacía", agreeing with the subject
};

constexpr NumberInput kStartAddressInput{RequestField::StartAddress,
                                         "La dirección de inicio (\"Direc. 1 Palabra\")",
                                         0,
                                         kMaxStartAddress,
                                         "",
                                         "vacía"};
constexpr NumberInput kWordCountInput{RequestField::WordCount,
                                      "El número de palabras (\"N Palabras\")",
                                      0,
                                      kMaxWordCount,
                                      "",
                                      "vacío"};
constexpr NumberInput kWriteWordCountInput{RequestField::WordCount,
                                           "El número de palabras (\"N Palabras\")",
                                           0,
                                           kMaxWriteWordCount,
                                           " para la función 16 (su cuenta de bytes, el doble, "
                                           "ocupa un solo byte)",
                                           "vacío"};
constexpr NumberInput kCoilInput{
    RequestField::Coil, "El número de bobina (\"Datos a Enviar\")", 0, kMaxByteValue, "", "vacío"};

// Operators paste long texts; a message box need not repeat all of them.
std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 24;
    std::string shown(text.substr(0, kShown));
    if (text.size() > kShown) {
        // Do not cut a UTF-8 sequence in two.
        while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80) {
            shown.pop_back();
        }
        if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0) {
            shown.pop_back();
        }
        shown += "…";
    }
    return "\"" + shown + "\"";
}

std::string rangeText(const NumberInput &input) {
    return "debe estar entre " + std::to_string(input.min) + " y " + std::to_string(input.max) +
           std::string(input.qualifier) + ".";
}

Result<long, RequestError> takeNumber(std::string_view text, const NumberInput &input) {
    const std::optional<long> value = parseDecimal(text);
    if (!value) {
        const std::string shown = text.empty()
                                      ? "está " + std::string(input.empty) + " y no es un número"
                                      : quoted(text) + " no es un número entero";
        return RequestError{input.field,
                            std::string(input.subject) + " " + shown + ": " + rangeText(input)};
    }
    if (*value < input.min || *value > input.max) {
        return RequestError{input.field, std::string(input.subject) + " " + quoted(text) +
                                             " está fuera de rango: " + rangeText(input)};
    }
    return *value;
}

Result<Bytes, RequestError> takeText(std::string_view utf8, RequestField field,
                                     std::string_view subject) {
    Latin1Result narrowed = latin1FromUtf8(utf8);
    if (!narrowed.failure) {
        return std::move(narrowed.bytes);
    }
    if (narrowed.failure->kind == Latin1Failure::Kind::NotUtf8) {
        return RequestError{field, std::string(subject) +
                                       " no es texto válido: solo se admiten caracteres con "
                                       "código de 0 a 255 (Latin-1)."};
    }
    return RequestError{field, std::string(subject) + " contiene el carácter \"" +
                                   narrowed.failure->character +
                                   "\", que no tiene código de 8 bits: solo se admiten "
                                   "caracteres con código de 0 a 255 (Latin-1)."};
}

Result<Bytes, RequestError> takeAddressText(std::string_view text) {
    const bool twoDigits =
        text.size() == 2 && text[0] >= '0' && text[0] <= '9' && text[1] >= '0' && text[1] <= '9';
    if (!twoDigits) {
        return RequestError{RequestField::Address, "La dirección " + quoted(text) +
                                                       " no es válida: debe tener dos dígitos, "
                                                       "de 00 a 99."};
    }
    return bytesOf(text);
}

void appendStartAddress(Bytes &frame, long start) {
    frame.push_back(static_cast<std::uint8_t>(start >> 8));
    frame.push_back(static_cast<std::uint8_t>(start & 0xFF));
}

void appendCrc(Bytes &frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
}

// The two text protocols carry the same inputs: address digits and the
// instruction as typed.
struct TextParts {
    Bytes address;
    Bytes instruction;
};

// ISO 1745 runs at 7 data bits: a byte above 127 would leave the port
// without its top bit, another character under a check code that no longer
// matches.
constexpr std::uint8_t kMaxSevenBit = 127;

Result<TextParts, RequestError> takeTextParts(const RequestInputs &inputs, bool sevenBitLine) {
    auto address = takeAddressText(inputs.addressText);
    if (!address)
        return address.error();
    constexpr std::string_view kInstruction = "La instrucción (\"Instruc. a enviar\")";
    auto instruction = takeText(inputs.instructionText, RequestField::Instruction, kInstruction);
    if (!instruction)
        return instruction.error();
    const Bytes &typed = instruction.value();
    if (const auto wide = std::find_if(typed.begin(), typed.end(),
                                       [](std::uint8_t byte) { return byte > kMaxSevenBit; });
        sevenBitLine && wide != typed.end()) {
        return RequestError{RequestField::Instruction,
                            std::string(kInstruction) + " contiene el carácter \"" +
                                utf8FromLatin1(Bytes{*wide}) +
                                "\", que no viaja por esta línea de 7 bits: con ISO 1745 solo se "
                                "admiten caracteres con código de 0 a 127."};
    }
    return TextParts{std::move(address).value(), std::move(instruction).value()};
}

Result<Bytes, RequestError> buildKorvel(const RequestInputs &inputs) {
    auto parts = takeTextParts(inputs, false);
    if (!parts)
        return parts.error();
    Bytes frame{kKorvelStart};
    frame.insert(frame.end(), parts.value().address.begin(), parts.value().address.end());
    frame.insert(frame.end(), parts.value().instruction.begin(), parts.value().instruction.end());
    frame.push_back(kCr);
    return frame;
}

Result<Bytes, RequestError> buildIso1745(const RequestInputs &inputs) {
    auto parts = takeTextParts(inputs, true);
    if (!parts)
        return parts.error();
    Bytes body = std::move(parts.value().address);
    body.push_back(kStx);
    body.insert(body.end(), parts.value().instruction.begin(), parts.value().instruction.end());
    body.push_back(kEtx);

    Bytes frame;
    frame.reserve(body.size() + 2);
    frame.push_back(kSoh);
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(CalcBCC(body));
    return frame;
}

Result<Bytes, RequestError> buildModbus(const RequestInputs &inputs) {
    if (inputs.addressNumber < 0 || inputs.addressNumber >= kAddressCount) {
        return RequestError{RequestField::Address,
                            "La dirección " + std::to_string(inputs.addressNumber) +
                                " está fuera de rango: debe estar entre 0 y 99."};
    }
    const std::optional<std::uint8_t> code = panelFunctionCode(inputs.functionIndex);
    if (!code) {
        // An empty selection would send a bare CRC of nothing (FF FF).
        return RequestError{RequestField::Function,
                            "No hay ninguna función Modbus seleccionada: elija una en "
                            "\"Funciones MODBUS\"."};
    }
    Bytes frame{static_cast<std::uint8_t>(inputs.addressNumber), *code};

    if (*code == kForceCoil) {
        auto coil = takeNumber(inputs.dataText, kCoilInput);
        if (!coil)
            return coil.error();
        frame.push_back(0x00);
        frame.push_back(static_cast<std::uint8_t>(coil.value()));
        frame.push_back(kCoilOnHigh);
        frame.push_back(kCoilOnLow);
        appendCrc(frame);
        return frame;
    }

    auto start = takeNumber(inputs.instructionText, kStartAddressInput);
    if (!start)
        return start.error();
    const bool writing = *code == kWriteWords;
    auto words = takeNumber(inputs.wordCountText, writing ? kWriteWordCountInput : kWordCountInput);
    if (!words)
        return words.error();

    appendStartAddress(frame, start.value());
    frame.push_back(0x00);
    frame.push_back(static_cast<std::uint8_t>(words.value()));
    if (writing) {
        auto data = BytesFromList(inputs.dataText);
        if (!data)
            return data.error();
        // The byte count follows the word count, not the list: instruments
        // are tested with lists that disagree with it on purpose.
        frame.push_back(static_cast<std::uint8_t>(2 * words.value()));
        frame.insert(frame.end(), data.value().begin(), data.value().end());
    }
    appendCrc(frame);
    return frame;
}

}  // namespace

bool isPanelForm(std::uint8_t code, const std::function<bool(std::string_view key)> &given) {
    const PanelForm *form = panelFormOf(code);
    return form && !given(form->tableKey) && (form->needs.empty() || given(form->needs));
}

bool panelFormReads(std::uint8_t code, std::string_view key) {
    const PanelForm *form = panelFormOf(code);
    return form && std::find(form->reads.begin(), form->reads.end(), key) != form->reads.end();
}

std::string functionTakes(std::uint8_t code, std::span<const char *const> keys,
                          const std::function<bool(std::string_view key)> &layoutReads,
                          std::string_view prefix) {
    std::vector<std::string_view> own;
    std::copy_if(keys.begin(), keys.end(), std::back_inserter(own), layoutReads);
    std::string text = "lleva " + spokenList(own, prefix);
    if (const PanelForm *form = panelFormOf(code)) {
        std::vector<std::string_view> panel;
        std::copy_if(form->reads.begin(), form->reads.end(), std::back_inserter(panel),
                     [](std::string_view key) { return !key.empty(); });
        text += ", o la forma del panel: " + spokenList(panel, prefix);
    }
    return text;
}

Result<Bytes, RequestError> BytesFromList(std::string_view utf8Text) {
    constexpr std::string_view kSubject = "Los datos a enviar (\"Datos a Enviar\")";
    auto text = takeText(utf8Text, RequestField::Data, kSubject);
    if (!text)
        return text.error();
    if (text.value().size() > kMaxDataTextLength) {
        return RequestError{RequestField::Data, std::string(kSubject) + " tienen " +
                                                    std::to_string(text.value().size()) +
                                                    " caracteres: se admiten como máximo 254."};
    }
    const NumberInput byteInput{RequestField::Data,
                                "Cada byte de los datos a enviar (\"Datos a Enviar\") va separado "
                                "por \";\". El byte",
                                0,
                                kMaxByteValue,
                                "",
                                "vacío"};
    Bytes bytes;
    std::string_view rest(utf8Text);
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string_view token = rest.substr(0, end);
        if (!token.empty()) {
            auto value = takeNumber(token, byteInput);
            if (!value)
                return value.error();
            bytes.push_back(static_cast<std::uint8_t>(value.value()));
        }
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return bytes;
}

Result<Bytes, RequestError> BuildRequest(std::uint8_t protocol, const RequestInputs &inputs) {
    if (!isProtocol(protocol)) {
        return RequestError{RequestField::Protocol,
                            "El protocolo " + std::to_string(protocol) +
                                " no es válido: debe ser 0 (Korvel), 1 (ISO 1745) o 2 (Modbus)."};
    }
    switch (static_cast<Protocol>(protocol)) {
        case Protocol::Korvel:
            return buildKorvel(inputs);
        case Protocol::Iso1745:
            return buildIso1745(inputs);
        case Protocol::Modbus:
            return buildModbus(inputs);
    }
    return Bytes{};
}

std::optional<std::string> mismatchedWriteData(const Bytes &request) {
    // Address, function, start, word count, byte count; the CRC after the data.
    constexpr std::size_t kDataAt = 7;
    constexpr std::size_t kCrcLength = 2;
    constexpr std::uint8_t kWriteWords = 16;
    if (request.size() < kDataAt + kCrcLength || request[1] != kWriteWords)
        return std::nullopt;
    const std::size_t announced = request[kDataAt - 1];
    const std::size_t carried = request.size() - kDataAt - kCrcLength;
    if (carried == announced)
        return std::nullopt;
    return "la función 16 anuncia " + std::to_string(announced) +
           " bytes de datos y los datos traen " + std::to_string(carried);
}

std::string keyedMessage(const RequestError &error, std::string_view prefix) {
    static constexpr std::pair<RequestField, std::string_view> kKeys[] = {
        {RequestField::Protocol, "protocol"},
        {RequestField::Address, "address"},
        {RequestField::Instruction, "instruction"},
        {RequestField::StartAddress, "start"},
        {RequestField::WordCount, "words"},
        {RequestField::Function, "function"},
        {RequestField::Data, "data"},
        {RequestField::Coil, "data"},
    };
    std::string message = error.message;
    const std::size_t open = message.find("(\"");
    const std::size_t close = open == std::string::npos ? open : message.find("\")", open + 2);
    for (const auto &[field, key] : kKeys) {
        if (field != error.field)
            continue;
        const std::string name = std::string(prefix) + std::string(key);
        if (close != std::string::npos)
            return message.replace(open, close + 2 - open, "(" + name + ")");
        return prefix.empty() ? message : namedMessage(message, name);
    }
    return message;
}

std::string namedMessage(std::string message, std::string_view name) {
    if (message.find(name) != std::string::npos)
        return message;
    const std::size_t quote = message.find(" \"");
    if (quote == std::string::npos)
        return std::string(name) + ": " + message;
    return message.insert(quote, " (" + std::string(name) + ")");
}

}  // namespace marvalo
