#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace marvalo {

// What the shell completes an option's value to, when the row has no
// choices: nothing for a number or a text, else the names of files.
enum class ValueKind : std::uint8_t { Word, File };

// The placeholder already says a value is a file ("ARCHIVO", "ARCHIVO.xml",
// "RUTA"), to whoever reads --help: the shell is told by the same words.
constexpr ValueKind valueKindOf(std::string_view placeholder) {
    return placeholder == "RUTA" || placeholder == "ARCHIVO" || placeholder.starts_with("ARCHIVO.")
               ? ValueKind::File
               : ValueKind::Word;
}

// Whether a row's choices are all its value may be, checked before its
// parser sees it, or only what the shell offers, its own parser saying
// better what is wrong ("u16 no lleva orden de palabras").
enum class Choices : std::uint8_t { Checked, Offered };

// Whether a second use of an option adds to a list (--property) or would
// silently win over the first, and is refused.
enum class Repeat : std::uint8_t { Once, Many };

// One command-line option as every reader of it sees it: the parser takes
// its words, --help shows it (and help2man makes the manual page from
// that), and the shell completes it, all from this one row.
struct OptionText {
    std::string_view name;     // "--port"; empty: a paragraph of the help, as written
    std::string_view value;    // "N", "N M"; one word taken per placeholder, none for a switch
    std::string_view help;     // one paragraph, filled to the terminal's width by helpText
    std::string_view choices;  // what its value completes to: "none even odd"
    Repeat repeat = Repeat::Once;
    Choices check = Choices::Checked;
    // The option and value this one is short for ("--format json"): the two
    // given together would have one silently win, so they are refused. A
    // row with no help of its own is helped as "lo mismo que --format json",
    // and one with no take is taken as its long form.
    std::string_view shorthandOf;

    constexpr OptionText(std::string_view name, std::string_view value, std::string_view help,
                         std::string_view choices = {}, Choices check = Choices::Checked)
        : name(name), value(value), help(help), choices(choices), check(check) {}
    constexpr OptionText(std::string_view name, std::string_view value, std::string_view help,
                         Repeat repeat)
        : name(name), value(value), help(help), repeat(repeat) {}
    constexpr OptionText shorthandFor(std::string_view longForm) const {
        OptionText row = *this;
        row.shorthandOf = longForm;
        return row;
    }

    constexpr ValueKind kind() const { return valueKindOf(value); }
};

// A row and what taking it does to the options of one program, given its
// name and the words after it (null where the command line ran out): the
// problem, in Spanish, when they are wrong.
using OptionValues = std::span<const char *const>;
template <typename Target>
struct OptionRow {
    OptionText text;
    std::optional<std::string> (*take)(Target &target, std::string_view name, OptionValues values);
    // Which of its program's modes read it, as bits the program names, so
    // a mode can refuse what it would drop; 0 for a program without modes.
    unsigned modes = 0;
};

// The modes of the row named `name`, 0 when no row names it.
template <typename Target>
unsigned modesOf(std::span<const OptionRow<Target>> rows, std::string_view name) {
    for (const OptionRow<Target> &row : rows) {
        if (!row.text.name.empty() && row.text.name == name)
            return row.modes;
    }
    return 0;
}

// Ends a program's help rows as every program's ends: --help, --version
// and --bash-completion, then its exit statuses.
void closeHelp(std::vector<OptionText> &texts, std::string_view exitHelp);

// The help: every option "  --name VALUE" with its text filled from
// column 20 to 79 (on the next line when the tag is longer), every
// paragraph as written.
std::string helpText(std::span<const OptionText> rows);

// A bash completion function for `program`: every option; after an option
// that takes a value, its choices, files or nothing, by its row;
// else `words` (its protocols).
std::string completionScript(std::string_view program, std::span<const OptionText> rows,
                             std::string_view words = {});

// The option names, in order: the choices for a mistyped one.
std::vector<std::string> optionNames(std::span<const OptionText> rows);

// What a common option prints, when `word` is one: the help, the version
// line or the completion; nothing for any other word.
std::optional<std::string> commonOptionOutput(std::string_view word, std::string_view program,
                                              std::string_view usage,
                                              std::span<const OptionText> rows,
                                              std::string_view words = {});

// The options a command line gave so far, whichever of a program's tables
// took them, so that one given twice is refused by its name.
class OptionsGiven {
  public:
    // The problem, in Spanish, when `word` names a row of `rows` given
    // before that may not repeat, or the long form of a shorthand given
    // before, or the other way round; nothing for any other word.
    std::optional<std::string> add(std::string_view word, std::span<const OptionText> rows);

  private:
    std::vector<std::string_view> names_;
};

// "opción desconocida '--colour'; ¿quiso decir --color?"
std::string unknownOption(std::string_view word, std::span<const OptionText> rows);

// What is wrong with a value of a row that offers choices: it must be one
// of them (each item of a list where the row's value ends in "[,...]"), or
// a whole number where it ends in "|N". So what the shell completes and
// what the parser takes are one list, the row's.
std::optional<std::string> choiceProblem(const OptionText &row, const char *value);

// Whether `choices` are `keys`, in order: a row's choices tied, when it is
// built, to the list its parser maps them by.
constexpr bool sameChoices(std::string_view choices, std::span<const std::string_view> keys) {
    for (const std::string_view key : keys) {
        if (!choices.starts_with(key))
            return false;
        choices.remove_prefix(key.size());
        if (choices.starts_with(' '))
            choices.remove_prefix(1);
    }
    return choices.empty();
}

// What a shorthand row without a take of its own does: its long form's
// take with the value it stands for ("--format" with "json"), so the two
// cannot come to mean different things.
template <typename Target>
std::optional<std::string> takeAsLongForm(std::span<const OptionRow<Target>> rows, Target &target,
                                          std::string_view longForm) {
    const std::size_t blank = longForm.find(' ');
    const std::string value(longForm.substr(blank + 1));
    const char *const given[] = {value.c_str()};
    for (const OptionRow<Target> &row : rows) {
        if (row.take && row.text.name == longForm.substr(0, blank))
            return row.take(target, row.text.name, OptionValues(given, 1));
    }
    // A shorthand of no row would be taken as nothing: said, never silent.
    return std::string(longForm) + " no es una opción de este programa";
}

// Takes argv[i] and its values when a row names it: how many words it
// used, 0 when no row does, or what is wrong.
template <typename Target>
Result<int, std::string> takeOption(std::span<const OptionRow<Target>> rows, Target &target,
                                    int argc, char **argv, int i) {
    const std::string_view word = argv[i];
    for (const OptionRow<Target> &row : rows) {
        if (row.text.name.empty() || row.text.name != word)
            continue;
        std::vector<const char *> values;
        for (std::size_t at = 0; at < row.text.value.size();) {
            const std::size_t blank = row.text.value.find(' ', at);
            const int index = i + 1 + static_cast<int>(values.size());
            values.push_back(index < argc ? argv[index] : nullptr);
            at = blank == std::string_view::npos ? row.text.value.size() : blank + 1;
        }
        if (auto problem = row.text.choices.empty() || row.text.check == Choices::Offered
                               ? std::nullopt
                               : choiceProblem(row.text, values[0]))
            return std::move(*problem);
        if (auto problem = row.take ? row.take(target, word, values)
                                    : takeAsLongForm(rows, target, row.text.shorthandOf))
            return std::move(*problem);
        return 1 + static_cast<int>(values.size());
    }
    return 0;
}

// The texts of rows, for helpText and its siblings.
template <typename Target>
void appendTexts(std::vector<OptionText> &texts, std::span<const OptionRow<Target>> rows) {
    for (const OptionRow<Target> &row : rows)
        texts.push_back(row.text);
}

}  // namespace marvalo
