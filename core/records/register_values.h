#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/frames/bytes.h"
#include "core/result.h"

namespace marvalo {

// How a read's registers are shown: as 16-bit words (unsigned, signed,
// hex), as 32-bit values over two registers (unsigned, signed, IEEE 754
// float) in one of the four word and byte orders, or as text, two
// characters per register.
enum class RegisterFormat { U16, S16, Hex, U32, S32, F32, Text };
// The 32-bit value's bytes A B C D (A the most significant) as they come
// on the wire: ABCD big-endian, CDAB the low word first, BADC the bytes of
// each word swapped, DCBA all reversed.
enum class WordOrder { ABCD, CDAB, BADC, DCBA };

struct RegisterView {
    RegisterFormat format = RegisterFormat::U16;
    WordOrder order = WordOrder::ABCD;

    bool operator==(const RegisterView &) const = default;
};

// "u16", "s16", "hex", "u32", "s32", "f32", "text", the 32-bit ones with an
// optional ":ORDER" ("f32:CDAB"). On failure, what is allowed.
Result<RegisterView, std::string> parseRegisterView(std::string_view text);
bool isWideFormat(RegisterFormat format);  // two registers a value

struct RegisterValue {
    int number;                   // the register's own number, from the request's start
    std::optional<double> value;  // none for text
    std::string text;             // "42", "-1", "0x002A", "10", "AB"
};

// The registers of a whole reply to a read (function 3 or 4) that answers
// `request`; none when it is no such reply. A 32-bit view takes registers
// in pairs, numbered by the first; an odd last register is left out.
std::optional<std::vector<RegisterValue>> decodeRegisters(const Bytes &request, const Bytes &reply,
                                                          RegisterView view);

// "reg 10 = 42, reg 11 = 300"
std::string registersLine(const std::vector<RegisterValue> &values);

// What a write's answer confirms: "escritos 2 registros desde 10" (16),
// "bobina 7 forzada a ON" (5); none for other replies.
std::optional<std::string> writeConfirmation(const Bytes &request, const Bytes &reply);

}  // namespace marvalo
