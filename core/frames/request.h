#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/frames/bytes.h"
#include "core/result.h"
#include "core/settings/panel_state.h"

namespace marvalo {

// Which of the panel's inputs a rejected request names.
enum class RequestField {
    Protocol,
    Address,
    Instruction,
    StartAddress,
    WordCount,
    Function,
    Data,
    Coil,
};

struct RequestError {
    RequestField field;
    std::string message;  // Spanish, for the operator: names the input and what is allowed
};

inline constexpr int kMaxStartAddress = 511;
inline constexpr int kMaxWordCount = 255;
// Function 16 carries twice the word count in one byte.
inline constexpr int kMaxWriteWordCount = 127;
inline constexpr int kMaxByteValue = 255;
// The data list's length travels in an 8-bit count whose walk cannot step
// past 255, so 254 is the longest list an instrument has ever been sent.
inline constexpr std::size_t kMaxDataTextLength = 254;

// The whole request for `protocol`, check code included, or why there is
// none. It is complete before anything touches the port, so a rejection
// leaves the line untouched.
Result<Bytes, RequestError> BuildRequest(std::uint8_t protocol, const RequestInputs &inputs);

// The message naming the input as the companion programs name it, by its
// key ("words" in a plan, "--words" with `prefix` "--") where the panel's
// message names its caption ("N Palabras").
// A message with no caption is named only with a prefix: a plan's messages
// already stand at their key.
std::string keyedMessage(const RequestError &error, std::string_view prefix);

// `message` naming `name` ("--address") beside its subject, before the value
// it quotes ("La dirección (--address) \"300\" …"), or in front when it
// quotes none; unchanged when it names it already.
std::string namedMessage(std::string message, std::string_view name);

// A function 16 request whose data is shorter or longer than the byte count
// it announces (the count follows the word count, as the panel builds it),
// in Spanish: "la función 16 anuncia 4 bytes de datos y los datos traen 2".
// None for any other request. The panel sends it as it always did.
std::optional<std::string> mismatchedWriteData(const Bytes &request);

// The panel's own Modbus forms (16 with a data list, 5 forcing the coil its
// data names), by the keys a plan gives them; the tools put "--" in front.
// True when `code` with the keys `given` says are there is one of them.
bool isPanelForm(std::uint8_t code, const std::function<bool(std::string_view key)> &given);
// Whether the panel's form of `code` reads `key`: the builder drops any
// other, so whoever gathers a form refuses it.
bool panelFormReads(std::uint8_t code, std::string_view key);
// What function `code` takes, for the refusal of a key it does not read:
// "lleva start y value, o la forma del panel: data", each key behind
// `prefix`. `keys` are named in their order where `layoutReads` holds.
std::string functionTakes(std::uint8_t code, std::span<const char *const> keys,
                          const std::function<bool(std::string_view key)> &layoutReads,
                          std::string_view prefix);

// "0;100;1;44" -> 00 64 01 2C. Empty tokens add nothing; every other token
// must be a whole number 0..255.
Result<Bytes, RequestError> BytesFromList(std::string_view utf8Text);

}  // namespace marvalo
