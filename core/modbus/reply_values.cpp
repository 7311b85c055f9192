#include "core/modbus/reply_values.h"

#include "core/frames/check_codes.h"
#include "core/modbus/function_table.h"
#include "core/text/byte_text.h"

namespace marvalo {

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
    constexpr std::size_t kObjectsAt = 8;  // after the heading; its last byte counts them
    if (reply.size() < kObjectsAt + 2 || reply[1] != 43 || reply[2] != kMeiDeviceIdentification ||
        !crcHolds(reply))
        return std::nullopt;
    std::vector<DeviceObject> objects;
    std::size_t at = kObjectsAt;
    const std::size_t end = reply.size() - 2;
    for (std::size_t n = 0; n < reply[kObjectsAt - 1]; ++n) {
        if (at + 2 > end || at + 2 + reply[at + 1] > end)
            return std::nullopt;
        const std::size_t length = reply[at + 1];
        objects.push_back({reply[at], std::string(deviceObjectName(reply[at])),
                           safeText(std::string_view(
                               reinterpret_cast<const char *>(reply.data()) + at + 2, length))});
        at += 2 + length;
    }
    return objects;
}

}  // namespace marvalo
