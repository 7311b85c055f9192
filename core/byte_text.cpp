#include "core/byte_text.h"

#include "core/latin1.h"

namespace marvalo {
namespace {

constexpr std::uint8_t kDelete = 0x7F;

const char *controlName(std::uint8_t byte) {
    switch (byte) {
        case 0x01:
            return "SOH";
        case 0x02:
            return "STX";
        case 0x03:
            return "ETX";
        case 0x04:
            return "EOT";
        case 0x06:
            return "ACK";
        case 0x0A:
            return "LF";
        case 0x0D:
            return "CR";
        case 0x15:
            return "NAK";
        default:
            return nullptr;
    }
}

}  // namespace

std::string namedText(const Bytes &bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    Bytes printable;
    auto flush = [&] {
        text += utf8FromLatin1(printable);
        printable.clear();
    };
    for (std::uint8_t byte : bytes) {
        if (byte >= 0x20 && byte != kDelete) {
            printable.push_back(byte);
            continue;
        }
        flush();
        text.push_back('<');
        if (const char *name = controlName(byte)) {
            text += name;
        } else {
            text.push_back(kDigits[byte >> 4]);
            text.push_back(kDigits[byte & 0x0F]);
        }
        text.push_back('>');
    }
    flush();
    return text;
}

}  // namespace marvalo
