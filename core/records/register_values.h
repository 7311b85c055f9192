#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
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
bool isWideFormat(RegisterFormat format);            // two registers a value
std::string_view formatName(RegisterFormat format);  // "u16", "f32", ...
std::string registerViewName(RegisterView view);     // "u16", "f32:CDAB": as parsed
// Every text parseRegisterView takes, blank-separated: an option's choices.
std::string_view registerViewChoices();
// Each view once, by its whole name: the 16-bit formats and text, then each
// 32-bit one in each order ("f32:CDAB"): a list to pick one from.
const std::vector<std::string> &registerViewNames();
// "u16, s16, hex, u32, s32, f32 o text" and "ABCD, CDAB, BADC o DCBA", for
// a help or a message to name what is taken.
std::string_view registerFormatNames();
std::string_view wordOrderNames();

// One register's value, or one pair's under a 32-bit format, exactly as it
// came. Which alternative `value` holds says what it is:
// - std::int64_t for u16, s16, hex, u32 and s32: every one of them fits, so
//   4294967295 and -2147483648 are held and compared as the integers they
//   are, never through a float;
// - float for f32: the IEEE 754 value itself, NaN and the infinities too
//   (tell them apart with std::isnan / std::isinf, or by `raw`);
// - std::string for text: the two characters, named as namedText names them.
// `raw` is the register's bytes in wire order, so a reader can always check
// the value against what the line carried.
struct RegisterValue {
    int number = 0;  // the register's own number, from the request's start (a pair's first)
    RegisterFormat format = RegisterFormat::U16;  // as shown; U16 when `lone`
    std::variant<std::int64_t, float, std::string> value;
    Bytes raw;
    // The odd last register of a 32-bit view: it has no partner, so it is
    // shown on its own, as u16.
    bool lone = false;
    // As people read it: "42", "-1", "0x002A", "4294967295", "0.1", "NaN",
    // "Infinity", "-Infinity", "\"AB\"" (text is quoted, `"` and `\` escaped,
    // so ", " inside a register cannot be taken for the separator).
    std::string text;

    const std::int64_t *integer() const { return std::get_if<std::int64_t>(&value); }
    const float *real() const { return std::get_if<float>(&value); }
    // The value as a double, for a chart's axis or a bound typed as a
    // decimal: exact for every integer here (all fit in 53 bits), a float
    // by its own shortest digits (0.1f is 0.1); none for text and NaN.
    std::optional<double> asDouble() const;
};

// A float's shortest text that reads back as the same float ("0.1",
// "3.4028235e+38", "1e-45", "-0"); "NaN", "Infinity", "-Infinity".
std::string floatText(float value);

// The registers of a whole reply to a read (function 3 or 4) that answers
// `request`; none when it is no such reply. A 32-bit view takes registers
// in pairs, numbered by the first; an odd last register comes on its own,
// `lone`, in u16.
std::optional<std::vector<RegisterValue>> decodeRegisters(const Bytes &request, const Bytes &reply,
                                                          RegisterView view);

// The one value at register `number` of such a reply, a 32-bit pair
// starting at any register of the read; none when the read lacks it.
std::optional<RegisterValue> decodeRegisterAt(const Bytes &request, const Bytes &reply,
                                              RegisterView view, int number);

// "reg 10 = 42, reg 11 = 300"; a lone register says so:
// "reg 12 = 7 (u16, registro suelto)".
std::string registerText(const RegisterValue &value);
std::string registersLine(const std::vector<RegisterValue> &values);

// What a write's answer confirms: "escritos 2 registros desde 10" (16),
// "bobina 7 forzada a ON" (5), 6's word as `view` shows one register
// ("registro 2 escrito: -32768"); none for other replies.
std::optional<std::string> writeConfirmation(const Bytes &request, const Bytes &reply,
                                             RegisterView view = {});

// The words that write "1234,-5" or "21.5" in `view`, in its word order:
// u16 0..65535, s16 -32768..32767, hex 0..FFFF (with or without 0x), u32,
// s32 and f32 two words each. A value outside its format's range is refused
// naming it and the range; text is not written this way.
Result<std::vector<std::uint16_t>, std::string> wordsFromValues(std::string_view list,
                                                                RegisterView view);

// One coil's value, for 5 and each of 15's: 1 or 0, on or off in any case.
std::optional<bool> coilValue(std::string_view text);
// "1,0,1": coils to write. Each 0 or 1 (also on/off).
Result<std::vector<bool>, std::string> bitsFromValues(std::string_view list);

// The registers a write request (6, 16, 23) carries, numbered from the
// start it writes at, in `view`: what was written, as numbers. None for
// other requests.
std::optional<std::vector<RegisterValue>> writtenRegisters(const Bytes &request, RegisterView view);

}  // namespace marvalo
