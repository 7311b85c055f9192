#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marvalo {

// The choice nearest to a mistyped `word`, for "¿quiso decir --until-complete?":
// at most two characters added, dropped or changed, and fewer than a third
// of its length; none when no choice is that near, or two are. A word or a
// choice longer than 64 bytes is near nothing, so the work stays small
// whatever is typed.
std::optional<std::string> nearestWord(std::string_view word,
                                       const std::vector<std::string> &choices);

// "; ¿quiso decir X?" for the nearest choice, else nothing.
std::string suggestion(std::string_view word, const std::vector<std::string> &choices);

}  // namespace marvalo
