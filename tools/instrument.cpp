#include "tools/instrument.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/settings/panel_state.h"

namespace marvalo {
namespace {

constexpr std::size_t kModbusMinimum = 4;  // address, function, CRC

bool hasModbusCrc(const Bytes &request) {
    return request.size() >= kModbusMinimum && crcHolds(request);
}

enum class FrameShape { Whole, Broken, Inconsistent, Unsupported };

// libmodbus takes a frame's fields where its function says they are,
// whatever the frame's length: a short frame makes it read past the buffer
// and answer with memory. So each frame is measured against its function
// first. One too short for its fixed fields is a broken frame, which a
// device does not answer; one whose counts disagree with its length or with
// each other gets exception 03, as a device answers a bad data value.
FrameShape shapeOf(const Bytes &frame) {
    constexpr std::size_t kFixedLength = 8;      // address, function, two words, CRC
    constexpr std::size_t kMultipleHeading = 9;  // the same and a byte count
    constexpr std::size_t kMaxWriteWords = 123;
    constexpr std::size_t kMaxWriteCoils = 1968;
    const std::uint8_t function = frame[1];
    switch (function) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
            return frame.size() == kFixedLength ? FrameShape::Whole : FrameShape::Broken;
        case 15:
        case 16: {
            if (frame.size() < kMultipleHeading)
                return FrameShape::Broken;
            const std::size_t quantity = (std::size_t{frame[4]} << 8) | frame[5];
            const std::size_t count = frame[6];
            const std::size_t expected = function == 16 ? 2 * quantity : (quantity + 7) / 8;
            const std::size_t most = function == 16 ? kMaxWriteWords : kMaxWriteCoils;
            if (quantity == 0 || quantity > most || count != expected ||
                frame.size() != kMultipleHeading + count)
                return FrameShape::Inconsistent;
            return FrameShape::Whole;
        }
        case 7:     // read exception status
        case 0x11:  // report server id
            return frame.size() == kModbusMinimum ? FrameShape::Whole : FrameShape::Broken;
        case 0x16: {  // mask write: address and two masks
            constexpr std::size_t kMaskWriteLength = 10;
            return frame.size() == kMaskWriteLength ? FrameShape::Whole : FrameShape::Broken;
        }
        default:
            return FrameShape::Unsupported;
    }
}

Bytes exceptionReply(std::uint8_t address, std::uint8_t function, std::uint8_t code) {
    Bytes reply{address, static_cast<std::uint8_t>(function | kModbusExceptionBit), code};
    const Bytes crc = CalcCRC(reply);
    reply.insert(reply.end(), crc.begin(), crc.end());
    return reply;
}

}  // namespace

Instrument::Instrument(int address) : address_(address), addressText_(addressText(address)) {
    // The device name is never opened: libmodbus only frames and answers,
    // writing into our pipe.
    modbus_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    bank_ = modbus_mapping_new(kCoilCount, 0, kRegisterCount, kRegisterCount);
    if (modbus_ == nullptr || bank_ == nullptr || pipe2(replyPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("cannot set up the Modbus register bank");
    }
    modbus_set_slave(modbus_, address);
    // libmodbus waits out its response timeout before some exception replies
    // (to let a broken frame drain); an instrument answers at once.
    modbus_set_response_timeout(modbus_, 0, 1);
    modbus_set_socket(modbus_, replyPipe_[1]);
    for (int n = 0; n < kRegisterCount; ++n) {
        bank_->tab_registers[n] = static_cast<std::uint16_t>(n);
        bank_->tab_input_registers[n] = static_cast<std::uint16_t>(1000 + n);
    }
    setWide(kLargeU32, 3'000'000'366U);
    setWide(kLargestU32, 0xFFFFFFFFU);
    setWide(kLowestS32, 0x80000000U);
    bank_->tab_registers[kNegativeS16] = static_cast<std::uint16_t>(-1234);
    moveLiveRegisters();
}

void Instrument::setWide(int first, std::uint32_t value) {
    bank_->tab_registers[first] = static_cast<std::uint16_t>(value >> 16);
    bank_->tab_registers[first + 1] = static_cast<std::uint16_t>(value & 0xFFFF);
}

// One step a read: a chart of continuous reads shows whole waves.
void Instrument::moveLiveRegisters() {
    constexpr int kStepsPerWave = 40;
    const double phase =
        2 * std::numbers::pi * static_cast<double>(reads_ % kStepsPerWave) / kStepsPerWave;
    setWide(kSineF32, std::bit_cast<std::uint32_t>(static_cast<float>(20 + 5 * std::sin(phase))));
    bank_->tab_registers[kSineS16] =
        static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(1000 * std::sin(phase))));
    setWide(kCounterU32, static_cast<std::uint32_t>(3'000'000'000U + reads_));
    ++reads_;
}

Instrument::~Instrument() {
    if (bank_ != nullptr)
        modbus_mapping_free(bank_);
    if (modbus_ != nullptr)
        modbus_free(modbus_);
    for (int fd : replyPipe_) {
        if (fd >= 0)
            ::close(fd);
    }
}

Protocol Instrument::protocolOf(const Bytes &request) {
    // Modbus address 1 starts like SOH and address 42 like "*": a frame whose
    // CRC holds is Modbus (a text frame passes that by chance once in 65536).
    if (hasModbusCrc(request))
        return Protocol::Modbus;
    return !request.empty() && request.front() == kSoh ? Protocol::Iso1745 : Protocol::Korvel;
}

std::optional<Bytes> Instrument::answer(const Bytes &request) {
    switch (protocolOf(request)) {
        case Protocol::Modbus:
            return answerModbus(request);
        case Protocol::Iso1745:
            return answerIso1745(request);
        case Protocol::Korvel:
            if (!request.empty() && request.front() == kKorvelStart)
                return answerKorvel(request);
            break;
    }
    return std::nullopt;
}

std::optional<Bytes> Instrument::answerKorvel(const Bytes &request) const {
    if (request.size() < 4 || request.back() != kCr)
        return std::nullopt;
    if (std::string(request.begin() + 1, request.begin() + 3) != addressText_)
        return std::nullopt;
    const std::string instruction(request.begin() + 3, request.end() - 1);
    std::string reply = addressText_;
    if (instruction == "D") {
        reply += std::string("D") + kReading;
    } else if (instruction == "V") {
        reply += std::string("V") + kVersion;
    } else if (instruction == "A") {
        reply += "A" + addressText_;
    } else {
        reply += "?";
    }
    reply.push_back(static_cast<char>(kCr));
    return bytesOf(reply);
}

std::optional<Bytes> Instrument::answerIso1745(const Bytes &request) const {
    // SOH A A STX ... ETX BCC
    if (request.size() < 6 || request[3] != kStx || request[request.size() - 2] != kEtx) {
        return std::nullopt;
    }
    if (std::string(request.begin() + 1, request.begin() + 3) != addressText_)
        return std::nullopt;
    const Bytes body(request.begin() + 1, request.end() - 1);
    if (CalcBCC(body) != request.back()) {
        return Bytes{kNak};
    }
    const std::string instruction(request.begin() + 4, request.end() - 2);
    std::string text;
    if (instruction == "0D") {
        text = std::string("0D") + kReading;
    } else if (instruction == "0V") {
        text = std::string("0V") + kVersion;
    } else {
        text = "?";
    }
    Bytes checked = bytesOf(text);
    checked.push_back(kEtx);
    Bytes reply{kStx};
    reply.insert(reply.end(), checked.begin(), checked.end());
    reply.push_back(bccOfCheckedPart(checked));
    return reply;
}

std::optional<Bytes> Instrument::answerModbus(const Bytes &request) {
    const bool broadcast = request.front() == kModbusBroadcast;
    if (request.front() != address_ && !broadcast)
        return std::nullopt;
    constexpr std::uint8_t kIllegalFunction = 0x01;
    constexpr std::uint8_t kIllegalDataValue = 0x03;
    switch (shapeOf(request)) {
        case FrameShape::Broken:
            return std::nullopt;
        case FrameShape::Inconsistent:
        case FrameShape::Unsupported:
            if (broadcast)
                return std::nullopt;
            return exceptionReply(
                request[0], request[1],
                shapeOf(request) == FrameShape::Unsupported ? kIllegalFunction : kIllegalDataValue);
        case FrameShape::Whole:
            break;
    }
    moveLiveRegisters();
    if (modbus_reply(modbus_, request.data(), static_cast<int>(request.size()), bank_) < 0) {
        return std::nullopt;
    }
    Bytes reply;
    std::uint8_t chunk[512];
    ssize_t n;
    while ((n = ::read(replyPipe_[0], chunk, sizeof chunk)) > 0) {
        reply.insert(reply.end(), chunk, chunk + n);
    }
    // The Modbus serial line: a broadcast is carried out, never answered.
    if (reply.empty() || broadcast)
        return std::nullopt;
    return reply;
}

}  // namespace marvalo
