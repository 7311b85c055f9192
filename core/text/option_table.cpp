#include "core/text/option_table.h"

#include <algorithm>
#include <array>

#include "core/text/byte_text.h"
#include "core/text/suggestion.h"
#include "core/version.h"

namespace marvalo {
namespace {

constexpr std::size_t kTextColumn = 20;
constexpr std::size_t kTextWidth = 79;

// What a terminal shows of UTF-8 text: its characters, not its bytes.
std::size_t characters(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (true) {
        at = text.find_first_not_of(" \n", at);
        if (at == std::string_view::npos)
            return found;
        const std::size_t end = std::min(text.find_first_of(" \n", at), text.size());
        found.push_back(text.substr(at, end - at));
        at = end;
    }
}

constexpr std::array<OptionText, 3> kCommon{{
    {"--help", "", "esta ayuda, y termina (también -h)\n", ""},
    {"--version", "", "la versión, y termina\n", ""},
    {"--bash-completion", "", "la función de completado de bash de estas opciones, y termina\n",
     ""},
}};

// The words of the help a shell function may hold between double quotes.
std::string joined(const std::vector<std::string> &words) {
    std::string line;
    for (const std::string &word : words)
        line += (line.empty() ? "" : " ") + word;
    return line;
}

}  // namespace

std::optional<std::string> choiceProblem(const OptionText &row, const char *value) {
    std::vector<std::string> choices;
    std::string allowed;
    for (const std::string_view choice : words(row.choices)) {
        allowed += (allowed.empty() ? "" : ", ") + std::string(choice);
        choices.emplace_back(choice);
    }
    const bool number = row.value.ends_with("|N");
    const bool list = row.value.ends_with("[,...]");
    allowed += number ? " o un número" : list ? " (o una lista con comas)" : "";
    if (value == nullptr)
        return std::string(row.name) + " necesita un valor: " + allowed;
    std::string_view rest = value;
    while (true) {
        const std::string_view item = list ? rest.substr(0, rest.find(',')) : rest;
        const bool whole = !item.empty() && item.find_first_not_of("0123456789") == item.npos;
        if (std::find(choices.begin(), choices.end(), item) == choices.end() && !(number && whole))
            return std::string(row.name) + " no admite \"" + safeText(item) + "\": se admite " +
                   allowed + suggestion(item, choices);
        if (item.size() == rest.size())
            return std::nullopt;
        rest.remove_prefix(item.size() + 1);
    }
}

void closeHelp(std::vector<OptionText> &texts, std::string_view exitHelp) {
    texts.insert(texts.end(), kCommon.begin(), kCommon.end());
    texts.push_back({"", "", exitHelp});
}

std::string helpText(std::span<const OptionText> rows) {
    std::string text;
    for (const OptionText &row : rows) {
        if (row.name.empty()) {
            text += row.help;
            continue;
        }
        std::string line = "  " + std::string(row.name);
        if (!row.value.empty())
            line += " " + std::string(row.value);
        std::size_t width = characters(line);
        if (width + 2 > kTextColumn) {  // help2man needs two blanks after a tag
            text += line + "\n";
            line.clear();
            width = 0;
        }
        bool first = true;
        const std::string help = row.help.empty() && !row.shorthandOf.empty()
                                     ? "lo mismo que " + std::string(row.shorthandOf)
                                     : std::string(row.help);
        for (const std::string_view word : words(help)) {
            if (!first && width + 1 + characters(word) > kTextWidth) {
                text += line + "\n";
                line.clear();
                width = 0;
                first = true;
            }
            if (first) {
                line += std::string(kTextColumn - width, ' ');
                width = kTextColumn;
            } else {
                line += ' ';
                ++width;
            }
            line += word;
            width += characters(word);
            first = false;
        }
        text += line + "\n";
    }
    return text;
}

std::vector<std::string> optionNames(std::span<const OptionText> rows) {
    std::vector<std::string> names;
    for (const OptionText &row : rows) {
        if (!row.name.empty())
            names.emplace_back(row.name);
    }
    return names;
}

std::string completionScript(std::string_view program, std::span<const OptionText> rows,
                             std::string_view words) {
    std::string function = "_";
    for (const char c : program)
        function += (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ? c : '_';
    // Names read by the shell as compgen's, so a file with a blank in its
    // name stays one word.
    constexpr std::array<std::string_view, 2> kReplies{
        "", "compopt -o filenames; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")"};
    std::array<std::string, kReplies.size()> byKind;
    // bash splits words at ':' as well (COMP_WORDBREAKS), so "f32:C" would
    // come as "f32" ":" "C" and the option before it be lost: the words are
    // taken as typed, by bash-completion where it is loaded, else from the
    // line up to the cursor.
    std::string script = "# bash completion for " + std::string(program) +
                         ", from the table its --help is written from\n" + function +
                         "() {\n"
                         "    local cur prev\n"
                         "    if declare -F _get_comp_words_by_ref >/dev/null; then\n"
                         "        _get_comp_words_by_ref -n : cur prev\n"
                         "    else\n"
                         "        local line=${COMP_LINE:0:COMP_POINT} typed\n"
                         "        read -ra typed <<<\"$line\"\n"
                         "        [[ -z $line || $line == *[[:blank:]] ]] && typed+=(\"\")\n"
                         "        cur=${typed[${#typed[@]}-1]}\n"
                         "        (( ${#typed[@]} > 1 )) && prev=${typed[${#typed[@]}-2]}\n"
                         "    fi\n"
                         "    COMPREPLY=()\n"
                         "    case $prev in\n";
    for (const OptionText &row : rows) {
        if (!row.choices.empty())
            script += "        " + std::string(row.name) + ") COMPREPLY=($(compgen -W \"" +
                      std::string(row.choices) + "\" -- \"$cur\")) ;;\n";
        else if (!row.name.empty() && !row.value.empty()) {
            std::string &names = byKind.at(static_cast<std::size_t>(row.kind()));
            names += (names.empty() ? "" : "|") + std::string(row.name);
        }
    }
    for (std::size_t kind = 0; kind < kReplies.size(); ++kind) {
        if (!byKind[kind].empty())
            script += "        " + byKind[kind] + ") " + std::string(kReplies[kind]) + " ;;\n";
    }
    script +=
        "        *) case $cur in\n"
        "            -*) COMPREPLY=($(compgen -W \"" +
        joined(optionNames(rows)) +
        "\" -- \"$cur\")) ;;\n"
        "            *) COMPREPLY=($(compgen -W \"" +
        std::string(words) +
        "\" -- \"$cur\")) ;;\n"
        "        esac ;;\n"
        "    esac\n"
        // bash replaces only what follows the last ':' of the word.
        "    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then\n"
        "        local colon=${cur%\"${cur##*:}\"} i\n"
        "        for i in \"${!COMPREPLY[@]}\"; do COMPREPLY[i]=${COMPREPLY[i]#\"$colon\"}; done\n"
        "    fi\n"
        "}\n"
        "complete -F " +
        function + " " + std::string(program) + "\n";
    return script;
}

std::optional<std::string> commonOptionOutput(std::string_view word, std::string_view program,
                                              std::string_view usage,
                                              std::span<const OptionText> rows,
                                              std::string_view words) {
    if (word == "--help" || word == "-h")
        return std::string(usage) + "\n" + helpText(rows);
    if (word == "--version")
        return std::string(program) + " " + kVersion + "\n";
    if (word == "--bash-completion")
        return completionScript(program, rows, words);
    return std::nullopt;
}

std::optional<std::string> OptionsGiven::add(std::string_view word,
                                             std::span<const OptionText> rows) {
    for (const OptionText &row : rows) {
        if (row.name.empty() || row.name != word || row.repeat == Repeat::Many)
            continue;
        if (std::find(names_.begin(), names_.end(), row.name) != names_.end())
            return std::string(row.name) + " se dio dos veces: dé cada opción una vez";
        // A shorthand and its long form, whichever came first.
        const auto longName = [](const OptionText &text) {
            return text.shorthandOf.substr(0, text.shorthandOf.find(' '));
        };
        for (const OptionText &other : rows) {
            if (other.name.empty() ||
                std::find(names_.begin(), names_.end(), other.name) == names_.end())
                continue;
            const OptionText *shorthand = longName(row) == other.name   ? &row
                                          : longName(other) == row.name ? &other
                                                                        : nullptr;
            if (shorthand)
                return std::string(other.name) + " y " + std::string(row.name) +
                       " no se dan juntos: " + std::string(shorthand->name) + " es " +
                       std::string(shorthand->shorthandOf) + "; dé solo uno";
        }
        names_.push_back(row.name);
        return std::nullopt;
    }
    return std::nullopt;
}

std::string unknownOption(std::string_view word, std::span<const OptionText> rows) {
    return "opción desconocida '" + safeText(word) + "'" + suggestion(word, optionNames(rows));
}

}  // namespace marvalo
