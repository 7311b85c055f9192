#pragma once

#include <cstdint>
#include <string>

namespace marvalo {

// Where something stands in one of the files the tools read (plans,
// instruments), for messages: "unit.toml:12:5".
struct TextPlace {
    std::string file;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::string text() const;
};

}  // namespace marvalo
