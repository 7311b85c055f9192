#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/frames/bytes.h"

namespace marvalo {

// The line speaks 8-bit characters: each code point 0..255 becomes the byte
// of the same value. A character beyond that has no byte, and guessing one
// would put something on the line the operator did not type.
struct Latin1Failure {
    enum class Kind { NotUtf8, BeyondLatin1 } kind;
    std::string character;  // the offending character, UTF-8, for the message
};
struct Latin1Result {
    Bytes bytes;
    std::optional<Latin1Failure> failure;
};
Latin1Result latin1FromUtf8(std::string_view utf8);

// The other way, for showing replies: every byte is one character.
std::string utf8FromLatin1(const Bytes &bytes);

}  // namespace marvalo
