#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marvalo {

// Why a step's `text` pattern was refused, and where in it.
struct PatternProblem {
    std::size_t offset = 0;  // bytes into the pattern
    std::string what;        // Spanish
};

// RE2's syntax (no backreferences, no lookaround): matching runs in time
// linear in the text, without recursion, within a memory budget, so a
// 64 KiB reply or a pattern such as (a+)+$ cannot hang or crash a run.
std::optional<PatternProblem> patternProblem(std::string_view pattern);

// Whether the pattern finds a match anywhere in the text (anchor it with ^
// and $ to demand the whole text). Both are UTF-8; "." is one character. A
// pattern patternProblem refuses finds nothing.
bool patternFinds(std::string_view pattern, std::string_view text);

// A pattern compiled once for many texts, with its groups: a simulated
// instrument's dialogue meets every instruction the line brings.
class CompiledPattern {
  public:
    explicit CompiledPattern(std::string_view pattern);
    ~CompiledPattern();
    CompiledPattern(CompiledPattern &&) noexcept;
    CompiledPattern &operator=(CompiledPattern &&) noexcept;

    int groups() const;
    // The groups' texts when the pattern matches the whole text.
    std::optional<std::vector<std::string>> wholeMatch(std::string_view text) const;

  private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled_;
};

}  // namespace marvalo
