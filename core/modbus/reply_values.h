#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/frames/bytes.h"

namespace marvalo {

// What a right answer of 1, 2 and 43/14 carries besides registers, read in
// one place for the command line, JSON and plans.

// The bits a read of coils or inputs (1, 2) brought, as many as asked,
// each byte's lowest bit first; none when `reply` is no whole, checked
// answer of that read.
std::optional<std::vector<bool>> readBits(const Bytes &request, const Bytes &reply);

// One device identification object: its id, its standard name (empty for a
// vendor's own) and its text as every text from the line becomes one (valid
// UTF-8 kept, any other byte its Latin-1 character, control characters
// named).
struct DeviceObject {
    std::uint8_t id = 0;
    std::string name;
    std::string text;
};
// The objects of a 43/14 answer, in the order they came; none when `reply`
// is no whole, checked such answer.
std::optional<std::vector<DeviceObject>> deviceObjects(const Bytes &reply);

}  // namespace marvalo
