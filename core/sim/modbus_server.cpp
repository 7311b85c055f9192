#include "core/sim/modbus_server.h"

#include <algorithm>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/modbus/function_table.h"
#include "core/sim/live_values.h"

namespace marvalo::sim {
namespace {

constexpr std::uint8_t kIllegalFunction = 0x01;
constexpr std::uint8_t kIllegalAddress = 0x02;
constexpr std::uint8_t kIllegalValue = 0x03;

std::uint16_t wordAt(const Bytes &frame, std::size_t at) {
    return static_cast<std::uint16_t>((frame[at] << 8) | frame[at + 1]);
}

void putWord(Bytes &out, std::uint16_t word) {
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(static_cast<std::uint8_t>(word));
}

Bytes sealed(Bytes frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

ModbusOutcome exceptionOutcome(const Bytes &frame, std::uint8_t code, bool readOnly = false) {
    return ModbusOutcome{
        sealed({frame[0], static_cast<std::uint8_t>(frame[1] | kModbusExceptionBit), code}), code,
        readOnly, false};
}

}  // namespace

ModbusServer::ModbusServer(const Instrument &instrument)
    : address_(static_cast<std::uint8_t>(instrument.address)),
      blocks_(instrument.blocks),
      values_(instrument.values),
      serverId_(instrument.serverId),
      identity_(instrument.identity),
      exceptionStatus_(instrument.exceptionStatus) {
    std::sort(blocks_.begin(), blocks_.end(), [](const Block &a, const Block &b) {
        return a.table != b.table ? a.table < b.table : a.start < b.start;
    });
    // Constant values are written once, so a master's write of them stays.
    for (const LiveValue &live : values_) {
        const auto words = wordsOf(live.value, live.view);
        for (std::size_t i = 0; i < words.size(); ++i)
            at(live.table, static_cast<std::uint16_t>(live.address + i)) = words[i];
    }
}

std::optional<std::uint16_t> ModbusServer::word(Table table, std::uint16_t address) const {
    for (const Block &block : blocks_) {
        if (block.table == table && address >= block.start && address < block.start + block.count)
            return block.words[address - block.start];
    }
    return std::nullopt;
}

std::uint16_t &ModbusServer::at(Table table, std::uint16_t address) {
    for (Block &block : blocks_) {
        if (block.table == table && address >= block.start && address < block.start + block.count)
            return block.words[address - block.start];
    }
    // Callers check the range first; reaching here is a programming error.
    static std::uint16_t nowhere = 0;
    return nowhere;
}

ModbusServer::Found ModbusServer::check(Table table, std::uint32_t start, std::uint32_t quantity,
                                        bool write) const {
    // Blocks are sorted and never overlap: walk them from the start on.
    std::uint32_t next = start;
    const std::uint32_t end = start + quantity;
    bool readOnly = false;
    for (const Block &block : blocks_) {
        if (block.table != table || block.start + block.count <= next)
            continue;
        if (block.start > next)
            break;
        readOnly = readOnly || (write && !block.writable);
        next = block.start + block.count;
        if (next >= end)
            break;
    }
    if (next < end)
        return {kIllegalAddress, false};
    if (readOnly)
        return {kIllegalAddress, true};
    return {};
}

void ModbusServer::moveLiveValues(double seconds) {
    for (const LiveValue &live : values_) {
        if (live.behaviour == Behaviour::Constant)
            continue;
        const auto words = wordsOf(valueAt(live, requests_, seconds), live.view);
        for (std::size_t i = 0; i < words.size(); ++i)
            at(live.table, static_cast<std::uint16_t>(live.address + i)) = words[i];
    }
    ++requests_;
}

Bytes ModbusServer::readBits(Table table, std::uint16_t start, std::uint16_t quantity) {
    Bytes data((quantity + 7) / 8, 0);
    for (std::uint16_t i = 0; i < quantity; ++i) {
        if (at(table, static_cast<std::uint16_t>(start + i)) != 0)
            data[i / 8] |= static_cast<std::uint8_t>(1 << (i % 8));
    }
    return data;
}

Bytes ModbusServer::readWords(Table table, std::uint16_t start, std::uint16_t quantity) {
    Bytes data;
    data.reserve(2 * quantity);
    for (std::uint16_t i = 0; i < quantity; ++i)
        putWord(data, at(table, static_cast<std::uint16_t>(start + i)));
    return data;
}

Bytes ModbusServer::identification(std::uint8_t code, std::uint8_t object) const {
    // Objects 0-2 are basic, 3-0x7F regular, 0x80 up extended; code 4 asks
    // for one object alone. What does not fit one reply says so and where
    // the next one starts.
    constexpr std::size_t kMostObjects = 240;
    const std::uint8_t first = object;
    const std::uint8_t last = code == 1 ? 2 : code == 2 ? 0x7F : 0xFF;
    Bytes objects;
    std::uint8_t count = 0;
    std::uint8_t more = 0, nextId = 0;
    for (auto it = identity_.lower_bound(first); it != identity_.end(); ++it) {
        if (code != 4 && it->first > last)
            break;
        if (code == 4 && it->first != object)
            break;
        const std::size_t size = 2 + it->second.size();
        if (objects.size() + size > kMostObjects) {
            more = 0xFF;
            nextId = it->first;
            break;
        }
        objects.push_back(it->first);
        objects.push_back(static_cast<std::uint8_t>(it->second.size()));
        objects.insert(objects.end(), it->second.begin(), it->second.end());
        ++count;
        if (code == 4)
            break;
    }
    const std::uint8_t conformity = 0x83;  // basic, regular, extended; one at a time too
    Bytes out{kMeiDeviceIdentification, code, conformity, more, nextId, count};
    out.insert(out.end(), objects.begin(), objects.end());
    return out;
}

ModbusOutcome ModbusServer::answer(const Bytes &frame, double seconds) {
    const bool broadcast = frame[0] == kModbusBroadcast;
    const std::uint8_t function = frame[1];
    const ModbusFunctionInfo *info = findModbusFunction(function);
    if (info == nullptr)
        return broadcast ? ModbusOutcome{} : exceptionOutcome(frame, kIllegalFunction);
    // FC 43 is a family: only its MEI type 14 is a function we have.
    if (function == 43 && frame.size() >= 5 && frame[2] != kMeiDeviceIdentification)
        return broadcast ? ModbusOutcome{} : exceptionOutcome(frame, kIllegalFunction);
    // A frame too short for its function's fields is no request at all;
    // one with a byte count is measured against it below.
    const std::size_t shortest = layoutLength(info->request);
    const bool counted = info->request == RequestLayout::StartCountBytes ||
                         info->request == RequestLayout::ReadWrite ||
                         info->request == RequestLayout::SubFunction;
    if (counted ? frame.size() < shortest : frame.size() != shortest)
        return ModbusOutcome{std::nullopt, 0, false, true};
    const int most = info->maxQuantity;
    moveLiveValues(seconds);

    Bytes pdu{function};
    ModbusOutcome refused;
    auto refuse = [&](std::uint8_t code, bool readOnly = false) {
        refused = broadcast ? ModbusOutcome{std::nullopt, code, readOnly, false}
                            : exceptionOutcome(frame, code, readOnly);
        return true;
    };
    auto range = [&](Table table, std::uint32_t start, std::uint32_t quantity, bool write) {
        const Found found = check(table, start, quantity, write);
        return found.exception != 0 && refuse(found.exception, found.readOnly);
    };
    switch (function) {
        case 1:
        case 2: {
            const std::uint16_t start = wordAt(frame, 2), quantity = wordAt(frame, 4);
            const Table table = function == 1 ? Table::Coils : Table::DiscreteInputs;
            if (quantity < 1 || quantity > most) {
                refuse(kIllegalValue);
                break;
            }
            if (range(table, start, quantity, false))
                break;
            const Bytes data = readBits(table, start, quantity);
            pdu.push_back(static_cast<std::uint8_t>(data.size()));
            pdu.insert(pdu.end(), data.begin(), data.end());
            break;
        }
        case 3:
        case 4: {
            const std::uint16_t start = wordAt(frame, 2), quantity = wordAt(frame, 4);
            const Table table = function == 3 ? Table::Holding : Table::Input;
            if (quantity < 1 || quantity > most) {
                refuse(kIllegalValue);
                break;
            }
            if (range(table, start, quantity, false))
                break;
            const Bytes data = readWords(table, start, quantity);
            pdu.push_back(static_cast<std::uint8_t>(data.size()));
            pdu.insert(pdu.end(), data.begin(), data.end());
            break;
        }
        case 5: {
            const std::uint16_t address = wordAt(frame, 2), value = wordAt(frame, 4);
            if (value != 0x0000 && value != 0xFF00) {
                refuse(kIllegalValue);
                break;
            }
            if (range(Table::Coils, address, 1, true))
                break;
            at(Table::Coils, address) = value == 0xFF00 ? 1 : 0;
            pdu.insert(pdu.end(), frame.begin() + 2, frame.begin() + 6);
            break;
        }
        case 6: {
            const std::uint16_t address = wordAt(frame, 2);
            if (range(Table::Holding, address, 1, true))
                break;
            at(Table::Holding, address) = wordAt(frame, 4);
            pdu.insert(pdu.end(), frame.begin() + 2, frame.begin() + 6);
            break;
        }
        case 7:
            pdu.push_back(exceptionStatus_);
            break;
        case 8: {
            // Only sub-function 0, return query data: the request comes back.
            if (wordAt(frame, 2) != 0) {
                refuse(kIllegalFunction);
                break;
            }
            pdu.insert(pdu.end(), frame.begin() + 2, frame.end() - 2);
            break;
        }
        case 15:
        case 16: {
            const std::uint16_t start = wordAt(frame, 2), quantity = wordAt(frame, 4);
            const std::size_t count = frame[6];
            const bool coils = function == 15;
            const std::size_t expected = coils ? (quantity + 7) / 8 : 2 * std::size_t{quantity};
            if (quantity < 1 || quantity > most || count != expected || frame.size() != 9 + count) {
                refuse(kIllegalValue);
                break;
            }
            const Table table = coils ? Table::Coils : Table::Holding;
            if (range(table, start, quantity, true))
                break;
            for (std::uint16_t i = 0; i < quantity; ++i) {
                at(table, static_cast<std::uint16_t>(start + i)) =
                    coils ? (frame[7 + i / 8] >> (i % 8)) & 1 : wordAt(frame, 7 + 2 * i);
            }
            pdu.insert(pdu.end(), frame.begin() + 2, frame.begin() + 6);
            break;
        }
        case 17: {
            // Without a server_id the instrument still answers, with its address.
            const ServerId id = serverId_.value_or(ServerId{address_, true, ""});
            pdu.push_back(static_cast<std::uint8_t>(2 + id.text.size()));
            pdu.push_back(id.id);
            pdu.push_back(id.running ? 0xFF : 0x00);
            pdu.insert(pdu.end(), id.text.begin(), id.text.end());
            break;
        }
        case 22: {
            const std::uint16_t address = wordAt(frame, 2);
            if (range(Table::Holding, address, 1, true))
                break;
            const std::uint16_t andMask = wordAt(frame, 4), orMask = wordAt(frame, 6);
            std::uint16_t &word = at(Table::Holding, address);
            word = static_cast<std::uint16_t>((word & andMask) | (orMask & ~andMask));
            pdu.insert(pdu.end(), frame.begin() + 2, frame.begin() + 8);
            break;
        }
        case 23: {
            const std::uint16_t readStart = wordAt(frame, 2), readQuantity = wordAt(frame, 4);
            const std::uint16_t writeStart = wordAt(frame, 6), writeQuantity = wordAt(frame, 8);
            const std::size_t count = frame[10];
            if (readQuantity < 1 || readQuantity > most || writeQuantity < 1 ||
                writeQuantity > kMaxReadWriteWrites || count != 2 * std::size_t{writeQuantity} ||
                frame.size() != 13 + count) {
                refuse(kIllegalValue);
                break;
            }
            if (range(Table::Holding, readStart, readQuantity, false) ||
                range(Table::Holding, writeStart, writeQuantity, true))
                break;
            // The write comes first, then the read.
            for (std::uint16_t i = 0; i < writeQuantity; ++i)
                at(Table::Holding, static_cast<std::uint16_t>(writeStart + i)) =
                    wordAt(frame, 11 + 2 * i);
            const Bytes data = readWords(Table::Holding, readStart, readQuantity);
            pdu.push_back(static_cast<std::uint8_t>(data.size()));
            pdu.insert(pdu.end(), data.begin(), data.end());
            break;
        }
        case 43: {
            const std::uint8_t code = frame[3], object = frame[4];
            if (code < 1 || code > 4) {
                refuse(kIllegalValue);
                break;
            }
            if (code == 4 && !identity_.contains(object)) {
                refuse(kIllegalAddress);
                break;
            }
            // A stream asked from an object the instrument lacks starts over.
            const std::uint8_t from =
                code != 4 && !identity_.contains(object) ? std::uint8_t{0} : object;
            const Bytes data = identification(code, from);
            pdu.insert(pdu.end(), data.begin(), data.end());
            break;
        }
        default:
            break;
    }
    if (refused.exception != 0)
        return refused;
    if (broadcast)
        return {};
    Bytes reply{address_};
    reply.insert(reply.end(), pdu.begin(), pdu.end());
    return ModbusOutcome{sealed(std::move(reply)), 0, false, false};
}

}  // namespace marvalo::sim
