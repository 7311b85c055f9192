#include "core/modbus/function_table.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/frames/check_codes.h"

namespace marvalo {
namespace {

constexpr std::size_t kCrcLength = 2;
constexpr std::size_t kHeadLength = 2;         // address, function
constexpr std::size_t kCountAt = 2;            // a ByteCount answer's count
constexpr std::size_t kByteCountOverhead = 5;  // address, function, count, CRC

// Quantity limits from the application protocol: what one answer of at
// most 253 bytes of PDU can carry.
constexpr std::array<ModbusFunctionInfo, 14> kFunctions{{
    {1, "leer bobinas", "read-coils", RequestLayout::StartCount, ReplyShape::ByteCount,
     CountRule::Bits, 0, 2000, false},
    {2, "leer entradas discretas", "read-discrete-inputs", RequestLayout::StartCount,
     ReplyShape::ByteCount, CountRule::Bits, 0, 2000, false},
    {3, "leer registros de retención", "read-holding-registers", RequestLayout::StartCount,
     ReplyShape::ByteCount, CountRule::Words, 0, 125, false},
    {4, "leer registros de entrada", "read-input-registers", RequestLayout::StartCount,
     ReplyShape::ByteCount, CountRule::Words, 0, 125, false},
    {5, "escribir una bobina", "write-single-coil", RequestLayout::StartValue, ReplyShape::Echo,
     CountRule::Announced, 0, 0, true},
    {6, "escribir un registro", "write-single-register", RequestLayout::StartValue,
     ReplyShape::Echo, CountRule::Announced, 0, 0, true},
    {7, "leer estado de excepción", "read-exception-status", RequestLayout::Bare, ReplyShape::Fixed,
     CountRule::Announced, 5, 0, false},
    {8, "diagnóstico", "diagnostics", RequestLayout::SubFunction, ReplyShape::Echo,
     CountRule::Announced, 0, 0, false},
    {15, "escribir varias bobinas", "write-multiple-coils", RequestLayout::StartCountBytes,
     ReplyShape::EchoHead, CountRule::Announced, 8, 1968, true},
    {16, "escribir varios registros", "write-multiple-registers", RequestLayout::StartCountBytes,
     ReplyShape::EchoHead, CountRule::Announced, 8, 123, true},
    {17, "identificador del servidor", "report-server-id", RequestLayout::Bare,
     ReplyShape::ByteCount, CountRule::Announced, 0, 0, false},
    {22, "escribir con máscara", "mask-write-register", RequestLayout::MaskWrite, ReplyShape::Echo,
     CountRule::Announced, 0, 0, true},
    {23, "leer y escribir registros", "read-write-registers", RequestLayout::ReadWrite,
     ReplyShape::ByteCount, CountRule::Words, 0, 125, true},
    {43, "identificación del dispositivo", "read-device-identification", RequestLayout::Mei,
     ReplyShape::MeiObjects, CountRule::Announced, 0, 0, false},
}};

constexpr std::array<ModbusExceptionInfo, 10> kExceptions{{
    {0x01, "illegal-function", "función no permitida"},
    {0x02, "illegal-data-address", "dirección de datos no permitida"},
    {0x03, "illegal-data-value", "valor de datos no permitido"},
    {0x04, "server-device-failure", "fallo del dispositivo"},
    {0x05, "acknowledge", "petición aceptada, en proceso"},
    {0x06, "server-device-busy", "dispositivo ocupado"},
    {0x07, "negative-acknowledge", "confirmación negativa: no puede hacer lo pedido"},
    {0x08, "memory-parity-error", "error de paridad en la memoria"},
    {0x0A, "gateway-path-unavailable", "ruta de pasarela no disponible"},
    {0x0B, "gateway-target-failed", "el destino de la pasarela no respondió"},
}};

constexpr std::array<std::string_view, 7> kObjectNames{
    "VendorName",  "ProductCode", "MajorMinorRevision", "VendorUrl",
    "ProductName", "ModelName",   "UserApplicationName"};

std::size_t wordAt(const Bytes &bytes, std::size_t at) {
    return (std::size_t{bytes[at]} << 8) | bytes[at + 1];
}

}  // namespace

std::size_t layoutLength(RequestLayout layout) {
    switch (layout) {
        case RequestLayout::StartCount:
        case RequestLayout::StartValue:
            return 8;
        case RequestLayout::StartCountBytes:
            return 9;
        case RequestLayout::MaskWrite:
            return 10;
        case RequestLayout::ReadWrite:
            return 13;
        case RequestLayout::SubFunction:
            return 6;
        case RequestLayout::Bare:
            return 4;
        case RequestLayout::Mei:
            return 7;
    }
    return 0;
}

std::span<const ModbusFunctionInfo> modbusFunctions() {
    return kFunctions;
}

const ModbusFunctionInfo *findModbusFunction(std::uint8_t code) {
    for (const ModbusFunctionInfo &row : kFunctions) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

std::span<const ModbusExceptionInfo> modbusExceptions() {
    return kExceptions;
}

const ModbusExceptionInfo *findModbusException(std::uint8_t code) {
    for (const ModbusExceptionInfo &row : kExceptions) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

const ModbusExceptionInfo *findModbusException(std::string_view key) {
    for (const ModbusExceptionInfo &row : kExceptions) {
        if (row.key == key)
            return &row;
    }
    return nullptr;
}

std::string_view deviceObjectName(std::uint8_t id) {
    return id < kObjectNames.size() ? kObjectNames[id] : std::string_view{};
}

std::string_view quantityKey(const ModbusFunctionInfo &info) {
    switch (info.request) {
        case RequestLayout::StartCount:
            return info.count == CountRule::Bits ? "bits" : "words";
        case RequestLayout::StartCountBytes:
            return info.code == 15 ? "bits" : "words";
        case RequestLayout::ReadWrite:
            return "words";
        default:
            return {};
    }
}

namespace {

// Every key a layout reads, in the order messages list them.
constexpr std::array<const char *, 12> kKeys{"start",   "words",      "bits",     "value",
                                             "values",  "format",     "order",    "and_mask",
                                             "or_mask", "read_start", "data_hex", "object"};

struct LayoutKeys {
    RequestLayout layout;
    std::array<std::string_view, 6> keys;
};
constexpr std::array<LayoutKeys, 8> kLayoutKeys{{
    {RequestLayout::StartCount, {"start", "words", "bits"}},
    {RequestLayout::StartValue, {"start", "value", "format"}},
    {RequestLayout::StartCountBytes, {"start", "values", "format", "order"}},
    {RequestLayout::MaskWrite, {"start", "and_mask", "or_mask"}},
    {RequestLayout::ReadWrite, {"read_start", "words", "start", "values", "format", "order"}},
    {RequestLayout::SubFunction, {"data_hex"}},
    {RequestLayout::Bare, {}},
    {RequestLayout::Mei, {"object"}},
}};

}  // namespace

std::span<const char *const> layoutKeys() {
    return kKeys;
}

bool layoutReads(const ModbusFunctionInfo &info, std::string_view key) {
    std::string spelled(key);
    std::replace(spelled.begin(), spelled.end(), '-', '_');
    const auto row =
        std::find_if(kLayoutKeys.begin(), kLayoutKeys.end(),
                     [&info](const LayoutKeys &row) { return row.layout == info.request; });
    // A key left out of the list is read by no layout: what plans are
    // checked for and what layouts read cannot drift apart.
    if (spelled.empty() || row == kLayoutKeys.end() ||
        std::find(kKeys.begin(), kKeys.end(), spelled) == kKeys.end() ||
        std::find(row->keys.begin(), row->keys.end(), spelled) == row->keys.end())
        return false;
    // 1 and 2 count bits, 3 and 4 words, in one layout.
    if (spelled == "words" || spelled == "bits")
        return spelled == quantityKey(info);
    const bool registersWritten = info.code == 6 || quantityKey(info) == "words";
    if (spelled == "format")
        return registersWritten;
    return spelled != "order" || (registersWritten && info.code != 6);
}

bool readsBits(const ModbusFunctionInfo &info) {
    return info.reply == ReplyShape::ByteCount && info.count == CountRule::Bits;
}

std::size_t serverIdLength(std::span<const std::uint8_t> data) {
    const auto indicator = [](std::uint8_t byte) { return byte == 0x00 || byte == 0xFF; };
    if (data.size() > kLeastServerIdCount && !indicator(data[1]) && indicator(data.back()))
        return data.size() - 1;
    return 1;
}

std::optional<MeiAnswer> meiAnswer(std::span<const std::uint8_t> reply) {
    if (reply.size() < kMeiHeading)
        return std::nullopt;
    MeiAnswer answer;
    answer.readCode = reply[3];
    answer.conformity = reply[4];
    answer.moreFollows = reply[5] == 0xFF;
    answer.nextObject = reply[6];
    answer.count = reply[7];
    std::size_t at = kMeiHeading;
    for (std::size_t object = 0; object < answer.count; ++object) {
        if (at + 2 > reply.size())
            return answer;
        const std::size_t length = reply[at + 1];
        if (at + 2 + length <= reply.size())
            answer.objects.push_back({reply[at], at + 2, length});
        at += 2 + length;
    }
    answer.length = at + kCrcLength;
    return answer;
}

std::optional<ReplyForm> replyFormOf(const Bytes &request) {
    if (request.size() < kHeadLength + kCrcLength)
        return std::nullopt;
    ReplyForm form;
    form.address = request[0];
    form.function = request[1];
    const ModbusFunctionInfo *info = findModbusFunction(form.function);
    if (!info || request.size() < layoutLength(info->request))
        return form;  // Unknown: address, function and a CRC are all there is to judge
    // 8's echo is sub-function 0's; other sub-functions answer otherwise.
    if (info->request == RequestLayout::SubFunction && wordAt(request, 2) != 0)
        return form;
    form.info = info;
    form.shape = info->reply;
    switch (info->reply) {
        case ReplyShape::ByteCount: {
            if (info->count == CountRule::Announced)
                break;
            // 23 reads with its first quantity, like 3 and 4.
            const std::size_t quantity = wordAt(request, 4);
            const std::size_t count =
                info->count == CountRule::Bits ? (quantity + 7) / 8 : 2 * quantity;
            if (info->count == CountRule::Bits)
                form.bits = quantity;
            // Beyond one byte no count byte can carry it: no answer is right.
            form.byteCount = count;
            form.length = kByteCountOverhead + count;
            break;
        }
        case ReplyShape::Echo:
            form.echoed = request.size() - kCrcLength;
            form.length = request.size();
            break;
        case ReplyShape::EchoHead:
            form.echoed = 6;  // address, function, start, quantity
            form.length = info->fixedLength;
            break;
        case ReplyShape::Fixed:
            form.length = info->fixedLength;
            break;
        case ReplyShape::MeiObjects:
            form.echoed = 4;  // address, function, MEI type, read code
            break;
        case ReplyShape::Unknown:
            break;
    }
    return form;
}

std::size_t longestReplyLength(const ReplyForm &form) {
    return form.length.value_or(kMaxRtuFrame);
}

std::optional<std::size_t> rightReplyLength(const ReplyForm &form,
                                            std::span<const std::uint8_t> reply) {
    if (form.length)
        return form.length;
    switch (form.shape) {
        case ReplyShape::ByteCount:
            if (reply.size() <= kCountAt)
                return std::nullopt;
            return kByteCountOverhead + reply[kCountAt];
        case ReplyShape::MeiObjects: {
            const auto answer = meiAnswer(reply);
            return answer ? answer->length : std::nullopt;
        }
        case ReplyShape::Unknown:
            // Nothing says where such an answer ends but a CRC that holds.
            if (reply.size() >= kHeadLength + kCrcLength && crcHolds(reply))
                return reply.size();
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace marvalo
