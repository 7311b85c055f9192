#include "core/text/suggestion.h"

#include <algorithm>
#include <array>

namespace marvalo {
namespace {

constexpr std::size_t kLongest = 64;

// Edits between two words, two neighbours swapped counting as one: "wiat"
// is one slip from "wait", not two. Three rows are kept: the one before the
// last is where a swap is measured from.
std::size_t distance(std::string_view a, std::string_view b) {
    std::array<std::size_t, kLongest + 1> twoBack{};
    std::array<std::size_t, kLongest + 1> back{};
    std::array<std::size_t, kLongest + 1> row{};
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        twoBack = back;
        back = row;
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            row[j] = std::min({back[j] + 1, row[j - 1] + 1, back[j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                row[j] = std::min(row[j], twoBack[j - 2] + 1);
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
