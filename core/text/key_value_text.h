#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marvalo {

// The program's small state files: "key = value" lines, "[section]" lines
// that prefix the keys after them ("section.key"), "#" or ";" comments.
// Lines that are none of these are skipped: a state file that a person
// edited badly loses that line, not the whole file.
std::map<std::string, std::string> parseKeyValues(std::string_view text);

// The lines back, in the given order; a value that holds a line break
// cannot be one line and is left out.
std::string formatKeyValues(const std::vector<std::pair<std::string, std::string>> &entries);

}  // namespace marvalo
