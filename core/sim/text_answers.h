#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marvalo::sim {

// A reply template: text with {address} (the instrument's two digits),
// {value} or {value:+08.1f} (its first value, printf-formatted), {1}..{9}
// (the instruction pattern's groups), and {{ }} for braces. Why one cannot
// be used with `pattern`; none when it can.
std::optional<std::string> templateProblem(std::string_view reply, std::string_view pattern);

// The reply a template makes. Only templates templateProblem accepts.
std::string renderReply(std::string_view reply, const std::string &address, double value,
                        const std::vector<std::string> &groups);

}  // namespace marvalo::sim
