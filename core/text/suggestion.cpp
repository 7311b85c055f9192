#include "core/text/suggestion.h"

#include <algorithm>
#include <array>

namespace marvalo {
namespace {

constexpr std::size_t kLongest = 64;

// Levenshtein distance, one row at a time.
std::size_t distance(std::string_view a, std::string_view b) {
    std::array<std::size_t, kLongest + 1> row{};
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::optional<std::string> nearestWord(std::string_view word,
                                       const std::vector<std::string> &choices) {
    if (word.empty() || word.size() > kLongest)
        return std::nullopt;
    const std::size_t most = std::min<std::size_t>(2, (word.size() - 1) / 3);
    std::optional<std::string> best;
    std::size_t bestDistance = most + 1;
    bool tie = false;
    for (const std::string &choice : choices) {
        if (choice.size() > kLongest || choice == word)
            continue;
        const std::size_t d = distance(word, choice);
        if (d < bestDistance) {
            best = choice;
            bestDistance = d;
            tie = false;
        } else if (d == bestDistance) {
            tie = true;
        }
    }
    return tie ? std::nullopt : best;
}

std::string suggestion(std::string_view word, const std::vector<std::string> &choices) {
    const auto nearest = nearestWord(word, choices);
    return nearest ? "; ¿quiso decir " + *nearest + "?" : "";
}

}  // namespace marvalo
