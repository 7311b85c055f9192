#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/frames/bytes.h"

namespace marvalo {

// What a right answer of 1, 2, 7, 17 and 43/14 carries besides registers,
// and what an exception names, read in one place for the command line,
// JSON, plans and the scan. Every text goes through namedText.

// The bits a read of coils or inputs (1, 2) brought, as many as asked,
// each byte's lowest bit first; none when `reply` is no whole, checked
// answer of that read.
std::optional<std::vector<bool>> readBits(const Bytes &request, const Bytes &reply);

// One device identification object: its id, its standard name (empty for a
// vendor's own) and its text as namedText shows every text from the line.
struct DeviceObject {
    std::uint8_t id = 0;
    std::string name;
    std::string text;
};
// The objects of a 43/14 answer, in the order they came; none when `reply`
// is no whole, checked such answer.
std::optional<std::vector<DeviceObject>> deviceObjects(const Bytes &reply);

// 17's answer: the server's id (one byte or the unit's own longer text,
// see serverIdLength), its run indicator (00 off, FF on, any other byte
// neither) and what the unit adds after them, as bytes and text.
struct ServerId {
    Bytes id;
    std::string idText;  // the id as namedText shows it
    std::uint8_t run = 0;
    std::optional<bool> running;  // none for a run byte other than 00 or FF
    Bytes rest;
    std::string text;
};
// None when `reply` is no whole, checked 17 answer with an id and a run byte.
std::optional<ServerId> serverId(const Bytes &reply);
// "id 01, en marcha, \"PLC-7\"", for a line or a scan's table; a longer
// id as its text and bytes.
std::string serverIdText(const ServerId &server);

// 7's one status byte; none when `reply` is no whole, checked such answer.
std::optional<std::uint8_t> exceptionStatus(const Bytes &reply);

// The exception code of a checked exception answer (function | 80), the
// one reading of it: the verdict's, JSON's, a plan's and a scan's.
std::optional<std::uint8_t> exceptionCode(const Bytes &reply);

}  // namespace marvalo
