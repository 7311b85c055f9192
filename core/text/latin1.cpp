#include "core/text/latin1.h"

namespace marvalo {
namespace {

// Length of a UTF-8 sequence from its lead byte, 0 for a byte that cannot lead.
std::size_t sequenceLength(std::uint8_t lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

}  // namespace

Latin1Result latin1FromUtf8(std::string_view utf8) {
    Latin1Result result;
    result.bytes.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        const std::size_t length = sequenceLength(lead);
        if (length == 0 || i + length > utf8.size()) {
            result.failure = Latin1Failure{Latin1Failure::Kind::NotUtf8, {}};
            return result;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<std::uint8_t>(utf8[i + k]) & 0xC0) != 0x80) {
                result.failure = Latin1Failure{Latin1Failure::Kind::NotUtf8, {}};
                return result;
            }
        }
        if (length == 1) {
            result.bytes.push_back(lead);
        } else if (length == 2 && lead <= 0xC3) {
            // C2 and C3 lead exactly the code points 0x80..0xFF.
            result.bytes.push_back(
                static_cast<std::uint8_t>(((lead & 0x1F) << 6) | (utf8[i + 1] & 0x3F)));
        } else {
            result.failure = Latin1Failure{Latin1Failure::Kind::BeyondLatin1,
                                           std::string(utf8.substr(i, length))};
            return result;
        }
        i += length;
    }
    return result;
}

std::string utf8FromLatin1(const Bytes &bytes) {
    std::string utf8;
    utf8.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        if (byte < 0x80) {
            utf8.push_back(static_cast<char>(byte));
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

}  // namespace marvalo
