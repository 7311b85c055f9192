#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/frames/bytes.h"

namespace marvalo {

// The Modbus functions a bench meets, one row each: what the request
// carries and what shape a right answer has. The request builder, the
// verdict, the frame anatomy, the captures and the simulator all read this
// table; none of them keeps its own list of functions or lengths. Sources:
// Modbus Application Protocol V1.1b3, sections 6 (functions) and 7
// (exceptions), and the serial line guide V1.02 (RTU framing, CRC last).

// What follows the address and the function code in a request. Numbers are
// big-endian 16-bit words unless said otherwise.
enum class RequestLayout : std::uint8_t {
    StartCount,       // 1, 2, 3, 4: start, quantity
    StartValue,       // 5, 6: start, value (5: FF 00 on, 00 00 off)
    StartCountBytes,  // 15, 16: start, quantity, byte count (one byte), data
    MaskWrite,        // 22: start, AND mask, OR mask
    ReadWrite,        // 23: read start, read quantity, write start, write quantity,
                      //     byte count, data
    SubFunction,      // 8: sub-function, data
    Bare,             // 7, 17: nothing
    Mei,              // 43: MEI type (14), read code (1..4), object id
};

// What a right (non-exception) answer looks like.
enum class ReplyShape : std::uint8_t {
    ByteCount,   // a byte count at offset 2, then that many bytes (1, 2, 3, 4, 17, 23)
    Echo,        // the request itself, byte for byte (5, 6, 8 with sub-function 0, 22)
    EchoHead,    // the request's address, function, start and quantity (15, 16)
    Fixed,       // a fixed length, CRC included (7: one data byte)
    MeiObjects,  // 43/14: a heading, then objects (id, length, value)
    Unknown,     // a function not in this table: judged as far as its code allows
};

// What a ByteCount answer's count must equal, from the request.
enum class CountRule : std::uint8_t {
    Bits,       // ceil(quantity / 8), the last byte's unused high bits zero
    Words,      // twice the quantity (23: the read quantity)
    Announced,  // whatever the answer announces (17)
};

struct ModbusFunctionInfo {
    std::uint8_t code;
    std::string_view name;  // Spanish, for people: "leer registros de retención"
    std::string_view key;   // for scripts and files: "read-holding-registers"
    RequestLayout request;
    ReplyShape reply;
    CountRule count;          // ByteCount answers only
    std::size_t fixedLength;  // Fixed answers only: the whole frame
    int maxQuantity;          // the largest quantity the request may carry; 0 when none
    bool writes;              // changes the unit: the only requests a broadcast may carry
};

std::span<const ModbusFunctionInfo> modbusFunctions();
// The shortest request each layout makes, CRC included; a raw frame
// shorter than that has no fields to take a shape from. Layouts without a
// byte count or data (all but StartCountBytes, ReadWrite, SubFunction) make
// requests of exactly that length.
std::size_t layoutLength(RequestLayout layout);
// None for a code this table does not hold.
const ModbusFunctionInfo *findModbusFunction(std::uint8_t code);

// What a request's quantity counts, as options and plan keys name it:
// "bits" (1, 2, 15), "words" (3, 4, 16, 23), empty for the rest. The one
// place where bits are told from words.
std::string_view quantityKey(const ModbusFunctionInfo &info);
// Whether a request of `info` reads `key`, as a plan spells it ("and_mask")
// or an option without its dashes ("and-mask"): the one list of what each
// layout takes, which the tools' options and the plans' keys both keep to.
// Registers written from numbers (6, 16, 23) read them in a "format", and
// a pair of them in an "order" too.
bool layoutReads(const ModbusFunctionInfo &info, std::string_view key);
// Every key some layout reads, as a plan spells it, in the order messages
// list them: the keys a plan step is checked for.
std::span<const char *const> layoutKeys();
// A read whose answer brings bits (1, 2): a byte count of ceil(bits / 8).
bool readsBits(const ModbusFunctionInfo &info);

// The longest RTU frame the serial line guide allows: address, a PDU of
// 253 bytes and the CRC. An answer announcing more is no one frame.
inline constexpr std::size_t kMaxRtuFrame = 256;

// Limits that rows share with other code: 23's write half, 43's MEI type.
inline constexpr int kMaxReadWriteWrites = 121;
// The most items one request of a write carries: 23's write half, else
// the function's own quantity.
inline constexpr int mostWritten(const ModbusFunctionInfo &info) {
    return info.request == RequestLayout::ReadWrite ? kMaxReadWriteWrites : info.maxQuantity;
}
inline constexpr std::uint8_t kMeiDeviceIdentification = 0x0E;
// 17's answer: at least the server's id and its run indicator (00 or FF).
inline constexpr std::size_t kLeastServerIdCount = 2;
// How many of 17's data bytes (those after its count) are the server's id;
// the run indicator follows. The id's length is the unit's own: one byte
// unless the byte after it is no indicator and the last byte is one, so
// "Acme-PX1-1.2" FF reads as that text running, not as id 41.
std::size_t serverIdLength(std::span<const std::uint8_t> data);

// The exception codes 01..0B and their names.
struct ModbusExceptionInfo {
    std::uint8_t code;
    std::string_view key;   // "illegal-data-address"
    std::string_view name;  // "dirección de datos no permitida"
};
std::span<const ModbusExceptionInfo> modbusExceptions();
// An exception answer: address, function | 80, its code, CRC.
inline constexpr std::size_t kModbusExceptionLength = 5;
const ModbusExceptionInfo *findModbusException(std::uint8_t code);
const ModbusExceptionInfo *findModbusException(std::string_view key);

// The standard names of device identification objects 0..6 (VendorName,
// ProductCode, MajorMinorRevision, VendorUrl, ProductName, ModelName,
// UserApplicationName); empty for the rest, which are the vendor's.
std::string_view deviceObjectName(std::uint8_t id);

// A 43/14 answer laid out: its heading, and each object where its value
// stands in the frame. The one walk over its objects.
struct MeiObjectSpan {
    std::uint8_t id = 0;
    std::size_t at = 0;  // the value's first byte
    std::size_t length = 0;
};
struct MeiAnswer {
    std::uint8_t readCode = 0;
    std::uint8_t conformity = 0;
    bool moreFollows = false;  // FF: the unit has more objects than this answer
    std::uint8_t nextObject = 0;
    std::uint8_t count = 0;              // the objects the heading announces
    std::vector<MeiObjectSpan> objects;  // those whose bytes are all there, in order
    // The whole answer, CRC included, once the bytes say where it ends
    // (the last object's length is in).
    std::optional<std::size_t> length;
};
inline constexpr std::size_t kMeiHeading =
    8;  // address, 2B, 0E, code, conformity, more, next, count
// None while the heading is not whole; walks at most the bytes given.
std::optional<MeiAnswer> meiAnswer(std::span<const std::uint8_t> reply);

// What the right answer to `request` (a whole frame, CRC included) must be.
struct ReplyForm {
    std::uint8_t address = 0;
    std::uint8_t function = 0;
    const ModbusFunctionInfo *info = nullptr;  // none for a function not in the table
    ReplyShape shape = ReplyShape::Unknown;
    std::size_t echoed = 2;                // leading bytes the answer repeats from the request
    std::optional<std::size_t> length;     // the whole answer, when the request alone says
    std::optional<std::size_t> byteCount;  // ByteCount: the count to carry, when the request says
    std::optional<std::size_t> bits;       // CountRule::Bits: the bits asked for
};
// None when `request` is no Modbus frame at all (shorter than address,
// function and CRC). A request shorter than its function's layout is
// judged as a function this table does not know.
std::optional<ReplyForm> replyFormOf(const Bytes &request);

// The longest answer `form` can get, CRC included: the right answer's
// length where the request fixes it, else a whole frame (17, 43/14, a
// function this table does not hold). What a wait must leave room for.
std::size_t longestReplyLength(const ReplyForm &form);

// The whole length of a right answer starting at `reply[0]`, CRC included:
// the form's, or what the answer's own byte count or objects say; none
// while the bytes so far do not tell. Walks at most the bytes given.
std::optional<std::size_t> rightReplyLength(const ReplyForm &form,
                                            std::span<const std::uint8_t> reply);

}  // namespace marvalo
