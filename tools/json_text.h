#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace marvalo {

// A JSON string literal for UTF-8 text: quotes, backslashes and control
// characters escaped.
inline std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

// Milliseconds with microsecond digits, or null.
inline std::string jsonMs(std::optional<double> milliseconds) {
    if (!milliseconds)
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *milliseconds);
    return text;
}

}  // namespace marvalo
