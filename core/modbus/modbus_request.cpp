#include "core/modbus/modbus_request.h"

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/modbus/function_table.h"
#include "core/text/number_text.h"

namespace marvalo {
namespace {

constexpr int kWordMax = 0xFFFF;
constexpr int kCoilOn = 0xFF00;
constexpr std::uint8_t kReservedFirst = 248;

void word(Bytes &frame, int value) {
    frame.push_back(static_cast<std::uint8_t>(value >> 8));
    frame.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::optional<std::string> outside(const char *what, int value, int min, int max) {
    if (value >= min && value <= max)
        return std::nullopt;
    return std::string(what) + " " + std::to_string(value) +
           " está fuera de rango: debe estar entre " + std::to_string(min) + " y " +
           std::to_string(max) + ".";
}

// A block of `count` items from `start` must stay inside the 65536 the
// protocol numbers.
std::optional<std::string> block(const char *what, int start, int count, int most) {
    if (auto wrong = outside("El inicio", start, 0, kWordMax))
        return wrong;
    if (auto wrong = outside(what, count, 1, most))
        return wrong;
    if (start + count - 1 > kWordMax)
        return "Desde " + std::to_string(start) + ", " + std::to_string(count) + " " + what +
               " pasan del último, el 65535.";
    return std::nullopt;
}

std::optional<std::string> addressProblem(const ModbusCall &call, const ModbusFunctionInfo &info,
                                          bool anyAddress) {
    if (call.address == kModbusBroadcast) {
        // Nobody answers a broadcast: only a write that asks for nothing back.
        if (!info.writes || info.reply == ReplyShape::ByteCount)
            return "La dirección 0 es una difusión, a la que ninguna unidad responde: la función " +
                   std::to_string(info.code) + " (" + std::string(info.name) +
                   ") se envía a una dirección de 1 a 247.";
        return std::nullopt;
    }
    if (call.address >= kReservedFirst && !anyAddress)
        return "La dirección " + std::to_string(call.address) +
               " está reservada en Modbus (248 a 255): se admite de 1 a 247, 0 para una difusión "
               "de escritura, o con --any-address cualquiera hasta 255.";
    return std::nullopt;
}

std::optional<std::string> fieldsProblem(const ModbusCall &call, const ModbusFunctionInfo &info) {
    switch (info.request) {
        case RequestLayout::StartCount:
            return block(readsBits(info) ? "bits" : "registros", call.start, call.quantity,
                         info.maxQuantity);
        case RequestLayout::StartValue:
            if (auto wrong = outside("El inicio", call.start, 0, kWordMax))
                return wrong;
            if (info.code == 5 && call.value != 0 && call.value != kCoilOn)
                return "El valor de una bobina es on (FF 00) u off (00 00).";
            return outside("El valor", call.value, 0, kWordMax);
        case RequestLayout::StartCountBytes:
            return quantityKey(info) == "bits"
                       ? block("bits", call.start, static_cast<int>(call.bits.size()),
                               mostWritten(info))
                       : block("registros", call.start, static_cast<int>(call.words.size()),
                               mostWritten(info));
        case RequestLayout::MaskWrite:
            if (auto wrong = outside("El registro", call.start, 0, kWordMax))
                return wrong;
            if (auto wrong = outside("La máscara AND", call.andMask, 0, kWordMax))
                return wrong;
            return outside("La máscara OR", call.orMask, 0, kWordMax);
        case RequestLayout::ReadWrite:
            if (auto wrong =
                    block("registros leídos", call.readStart, call.quantity, info.maxQuantity))
                return wrong;
            return block("registros escritos", call.start, static_cast<int>(call.words.size()),
                         mostWritten(info));
        case RequestLayout::SubFunction: {
            constexpr std::size_t kMostData = 250;  // a PDU of 253 bytes
            if (call.data.size() > kMostData)
                return "Los datos del diagnóstico tienen " + std::to_string(call.data.size()) +
                       " bytes: se admiten como máximo 250.";
            return std::nullopt;
        }
        case RequestLayout::Mei:
            return outside("El código de lectura", call.readCode, 1, 4);
        case RequestLayout::Bare:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> writtenCountProblem(const ModbusCall &call) {
    const ModbusFunctionInfo *info = findModbusFunction(call.function);
    if (!info || !info->writes || quantityKey(*info).empty())
        return std::nullopt;
    const bool bits = quantityKey(*info) == "bits";
    const std::size_t count = bits ? call.bits.size() : call.words.size();
    const int most = mostWritten(*info);
    if (count <= static_cast<std::size_t>(most))
        return std::nullopt;
    return "da " + std::to_string(count) + (bits ? " bits" : " registros") + "; la función " +
           std::to_string(info->code) + " escribe de 1 a " + std::to_string(most) + " en una trama";
}

Result<Bytes, std::string> buildModbusCall(const ModbusCall &call, bool anyAddress) {
    const ModbusFunctionInfo *info = findModbusFunction(call.function);
    if (!info) {
        std::string known;
        for (const ModbusFunctionInfo &row : modbusFunctions())
            known += (known.empty() ? "" : ", ") + std::to_string(row.code);
        return "La función Modbus " + std::to_string(call.function) +
               " no se construye con opciones: se admite " + known +
               "; cualquier otra trama con --raw.";
    }
    if (auto wrong = addressProblem(call, *info, anyAddress))
        return *wrong;
    if (auto wrong = fieldsProblem(call, *info))
        return *wrong;
    Bytes frame{call.address, call.function};
    switch (info->request) {
        case RequestLayout::StartCount:
            word(frame, call.start);
            word(frame, call.quantity);
            break;
        case RequestLayout::StartValue:
            word(frame, call.start);
            word(frame, call.value);
            break;
        case RequestLayout::StartCountBytes:
            word(frame, call.start);
            if (quantityKey(*info) == "bits") {
                word(frame, static_cast<int>(call.bits.size()));
                // The first coil in the first byte's lowest bit.
                Bytes packed((call.bits.size() + 7) / 8, 0);
                for (std::size_t i = 0; i < call.bits.size(); ++i)
                    packed[i / 8] |= static_cast<std::uint8_t>(call.bits[i] ? 1 << (i % 8) : 0);
                frame.push_back(static_cast<std::uint8_t>(packed.size()));
                frame.insert(frame.end(), packed.begin(), packed.end());
            } else {
                word(frame, static_cast<int>(call.words.size()));
                frame.push_back(static_cast<std::uint8_t>(2 * call.words.size()));
                for (const std::uint16_t value : call.words)
                    word(frame, value);
            }
            break;
        case RequestLayout::MaskWrite:
            word(frame, call.start);
            word(frame, call.andMask);
            word(frame, call.orMask);
            break;
        case RequestLayout::ReadWrite:
            word(frame, call.readStart);
            word(frame, call.quantity);
            word(frame, call.start);
            word(frame, static_cast<int>(call.words.size()));
            frame.push_back(static_cast<std::uint8_t>(2 * call.words.size()));
            for (const std::uint16_t value : call.words)
                word(frame, value);
            break;
        case RequestLayout::SubFunction:
            word(frame, 0);  // return query data: the answer echoes it
            frame.insert(frame.end(), call.data.begin(), call.data.end());
            break;
        case RequestLayout::Mei:
            frame.push_back(kMeiDeviceIdentification);
            frame.push_back(call.readCode);
            frame.push_back(call.objectId);
            break;
        case RequestLayout::Bare:
            break;
    }
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

Result<Bytes, std::string> rawModbusFrame(std::string_view hexText, bool addCrc) {
    const auto bytes = bytesFromHexText(hexText);
    if (!bytes)
        return "La trama \"" + std::string(hexText) +
               "\" no es una lista de bytes en hex separados por espacios (\"01 03 00 00 00 0A\").";
    // Without a CRC to come, address and function are the least a frame is.
    const std::size_t least = addCrc ? 2 : 4;
    if (bytes->size() < least)
        return "La trama tiene " + std::to_string(bytes->size()) + " bytes: se admite desde " +
               std::to_string(least) + (addCrc ? " (dirección y función)" : " (con su CRC)") + ".";
    Bytes frame = *bytes;
    if (addCrc) {
        const Bytes crc = CalcCRC(frame);
        frame.insert(frame.end(), crc.begin(), crc.end());
    }
    // A read sent raw to address 0 proves no more than one built so.
    if (const ModbusFunctionInfo *info = findModbusFunction(frame[1]);
        info && frame[0] == kModbusBroadcast) {
        ModbusCall broadcast;
        broadcast.address = kModbusBroadcast;
        if (auto wrong = addressProblem(broadcast, *info, false))
            return *wrong;
    }
    return frame;
}

Result<std::pair<std::uint8_t, std::uint8_t>, std::string> deviceObjectsOf(std::string_view text) {
    for (std::size_t code = 0; code < kDeviceObjectKeys.size(); ++code) {
        if (text == kDeviceObjectKeys[code])
            return std::pair<std::uint8_t, std::uint8_t>{static_cast<std::uint8_t>(code + 1), 0};
    }
    if (const auto id = parseDecimalIn(text, 0, 255))
        return std::pair<std::uint8_t, std::uint8_t>{4, static_cast<std::uint8_t>(*id)};
    return "El objeto \"" + std::string(text) +
           "\" no es válido: basic, regular, extended o un número de objeto de 0 a 255.";
}

namespace {

constexpr std::size_t kObjectAt = 4;

// The object a 43/14 answer says comes next, when it says more follow.
std::optional<std::uint8_t> moreFollows(const Bytes &request, const Bytes &reply) {
    const auto form = replyFormOf(request);
    if (!form || form->shape != ReplyShape::MeiObjects || reply.size() < 2 ||
        reply[1] != form->function || !crcHolds(reply))
        return std::nullopt;
    const auto answer = meiAnswer(reply);
    if (!answer || !answer->moreFollows)
        return std::nullopt;
    return answer->nextObject;
}

// The last object of the category a read code asks (basic 0..2, regular
// up to 7F, extended up to FF): a unit naming one past it would lead us
// through objects nobody asked for.
std::uint8_t lastObjectOf(std::uint8_t readCode) {
    constexpr std::uint8_t kLastBasic = 0x02;
    constexpr std::uint8_t kLastRegular = 0x7F;
    return readCode == 1 ? kLastBasic : readCode == 2 ? kLastRegular : 0xFF;
}

constexpr std::size_t kReadCodeAt = 3;

}  // namespace

std::optional<std::string> identificationStuck(const Bytes &request, const Bytes &reply,
                                               std::size_t part) {
    const auto next = moreFollows(request, reply);
    if (!next)
        return std::nullopt;
    if (const std::uint8_t last = lastObjectOf(request[kReadCodeAt]); *next > last)
        return "la identificación sigue en el objeto " + std::to_string(*next) +
               ", fuera de la categoría pedida (objetos hasta el " + std::to_string(last) + ")";
    if (*next <= request[kObjectAt])
        return "la identificación sigue en el objeto " + std::to_string(*next) + " tras pedir el " +
               std::to_string(request[kObjectAt]) + ": no avanza y no terminaría";
    if (part >= kMostIdentificationParts)
        return "la identificación no termina en " + std::to_string(kMostIdentificationParts) +
               " partes";
    return std::nullopt;
}

std::optional<Bytes> nextIdentificationRequest(const Bytes &request, const Bytes &reply) {
    // A unit that names the object just asked, or an earlier one, would be
    // asked forever.
    const auto next = moreFollows(request, reply);
    if (!next || *next <= request[kObjectAt] || *next > lastObjectOf(request[kReadCodeAt]))
        return std::nullopt;
    Bytes following(request.begin(), request.end() - 2);
    following[kObjectAt] = *next;
    const Bytes crc = CalcCRC(following);
    following.insert(following.end(), crc.begin(), crc.end());
    return following;
}

}  // namespace marvalo
