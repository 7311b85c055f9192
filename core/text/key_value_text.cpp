#include "core/text/key_value_text.h"

namespace marvalo {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::map<std::string, std::string> parseKeyValues(std::string_view text) {
    std::map<std::string, std::string> values;
    std::string section;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line =
            trimmed(text.substr(0, end == std::string_view::npos ? text.size() : end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = std::string(trimmed(line.substr(1, line.size() - 2)));
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0)
            continue;
        const std::string key(trimmed(line.substr(0, equals)));
        values[section.empty() ? key : section + "." + key] =
            std::string(trimmed(line.substr(equals + 1)));
    }
    return values;
}

std::string formatKeyValues(const std::vector<std::pair<std::string, std::string>> &entries) {
    std::string text;
    for (const auto &[key, value] : entries) {
        if (value.find_first_of("\r\n") != std::string::npos)
            continue;
        text += key + " = " + value + "\n";
    }
    return text;
}

}  // namespace marvalo
