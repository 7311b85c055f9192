#include "core/modbus/reply_values.h"

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/modbus/function_table.h"
#include "core/text/byte_text.h"

namespace marvalo {
namespace {

constexpr std::uint8_t kReadExceptionStatus = 7;
constexpr std::uint8_t kReportServerId = 17;

Bytes bytesAt(const Bytes &bytes, std::size_t at, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

}  // namespace

std::optional<std::vector<bool>> readBits(const Bytes &request, const Bytes &reply) {
    constexpr std::size_t kBitsAt = 3;  // address, function, byte count
    const auto form = replyFormOf(request);
    if (!form || !form->bits || !form->length || reply.size() != *form->length ||
        reply[0] != form->address || reply[1] != form->function || !crcHolds(reply))
        return std::nullopt;
    std::vector<bool> bits;
    for (std::size_t bit = 0; bit < *form->bits; ++bit)
        bits.push_back(((reply[kBitsAt + bit / 8] >> (bit % 8)) & 1) != 0);
    return bits;
}

std::optional<std::vector<DeviceObject>> deviceObjects(const Bytes &reply) {
    if (reply.size() < 2 || reply[1] != 43 || !crcHolds(reply))
        return std::nullopt;
    const auto answer = meiAnswer(reply);
    if (!answer || reply[2] != kMeiDeviceIdentification || !answer->length ||
        *answer->length > reply.size())
        return std::nullopt;
    std::vector<DeviceObject> objects;
    for (const MeiObjectSpan &span : answer->objects)
        objects.push_back({span.id, std::string(deviceObjectName(span.id)),
                           namedText(bytesAt(reply, span.at, span.length))});
    return objects;
}

std::optional<ServerId> serverId(const Bytes &reply) {
    constexpr std::size_t kIdAt = 3;  // address, function, count
    if (reply.size() < kIdAt + kLeastServerIdCount + 2 || reply[1] != kReportServerId ||
        reply.size() != std::size_t{reply[2]} + 5 || reply[2] < kLeastServerIdCount ||
        !crcHolds(reply))
        return std::nullopt;
    const std::size_t count = reply[2];
    const std::size_t idLength =
        serverIdLength(std::span<const std::uint8_t>(reply).subspan(kIdAt, count));
    const std::size_t restAt = kIdAt + idLength + 1;
    ServerId server{bytesAt(reply, kIdAt, idLength),
                    {},
                    reply[kIdAt + idLength],
                    std::nullopt,
                    bytesAt(reply, restAt, kIdAt + count - restAt),
                    {}};
    server.idText = namedText(server.id);
    if (server.run == 0xFF || server.run == 0x00)
        server.running = server.run == 0xFF;
    server.text = namedText(server.rest);
    return server;
}

std::string serverIdText(const ServerId &server) {
    std::string text =
        "id " +
        (server.id.size() == 1 ? toHex(server.id)
                               : "\"" + server.idText + "\" (" + toHex(server.id) + ")") +
        ", " +
        (!server.running   ? "marcha " + toHex(Bytes{server.run}) + " (ni 00 ni FF)"
         : *server.running ? std::string("en marcha")
                           : std::string("parado"));
    if (!server.rest.empty())
        text += ", \"" + server.text + "\"";
    return text;
}

std::optional<std::uint8_t> exceptionStatus(const Bytes &reply) {
    const ModbusFunctionInfo *info = findModbusFunction(kReadExceptionStatus);
    if (!info || reply.size() != info->fixedLength || reply[1] != kReadExceptionStatus ||
        !crcHolds(reply))
        return std::nullopt;
    return reply[2];
}

std::optional<std::uint8_t> exceptionCode(const Bytes &reply) {
    // Its first bytes as the verdict judges them: bytes after it are the
    // verdict's to name, never a reason to lose the code it found.
    if (reply.size() < kModbusExceptionLength || (reply[1] & kModbusExceptionBit) == 0 ||
        !crcHolds(std::span(reply).first(kModbusExceptionLength)))
        return std::nullopt;
    return reply[2];
}

}  // namespace marvalo
