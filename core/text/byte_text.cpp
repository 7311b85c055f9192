#include "core/text/byte_text.h"

#include <algorithm>
#include <utility>

namespace marvalo {
namespace {

constexpr std::uint32_t kDelete = 0x7F;
constexpr std::uint32_t kFirstC1 = 0x80;
constexpr std::uint32_t kLastC1 = 0x9F;

bool isControl(std::uint32_t codePoint) {
    return codePoint < 0x20 || codePoint == kDelete ||
           (codePoint >= kFirstC1 && codePoint <= kLastC1);
}

const char *controlName(std::uint32_t codePoint) {
    switch (codePoint) {
        case 0x01:
            return "SOH";
        case 0x02:
            return "STX";
        case 0x03:
            return "ETX";
        case 0x04:
            return "EOT";
        case 0x06:
            return "ACK";
        case 0x0A:
            return "LF";
        case 0x0D:
            return "CR";
        case 0x15:
            return "NAK";
        default:
            return nullptr;
    }
}

void appendControl(std::string &text, std::uint32_t codePoint) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text.push_back('<');
    if (const char *name = controlName(codePoint)) {
        text += name;
    } else {
        text.push_back(kDigits[(codePoint >> 4) & 0x0F]);
        text.push_back(kDigits[codePoint & 0x0F]);
    }
    text.push_back('>');
}

void appendUtf8(std::string &text, std::uint32_t codePoint) {
    if (isControl(codePoint)) {
        appendControl(text, codePoint);
    } else if (codePoint < 0x80) {
        text.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// The code point of a well-formed UTF-8 sequence at `at` and its length,
// or length 0: overlong forms, surrogates and values beyond U+10FFFF are
// not well formed.
std::pair<std::uint32_t, std::size_t> decodeAt(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    std::uint32_t smallest = 0;
    if (lead < 0x80) {
        return {lead, 1};
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, smallest = 0x10000;
    } else {
        return {0, 0};
    }
    if (at + length > bytes.size())
        return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + i]);
        if ((next & 0xC0) != 0x80)
            return {0, 0};
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return {0, 0};
    return {codePoint, length};
}

}  // namespace

std::string namedText(const Bytes &bytes) {
    return safeText(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

std::string namedTextUpTo(const Bytes &bytes, std::size_t limit) {
    if (bytes.size() <= limit)
        return namedText(bytes);
    // Cut between characters: half a UTF-8 sequence would read as Latin-1.
    const std::string_view view(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    std::size_t cut = 0;
    while (cut < limit) {
        const std::size_t length = std::max<std::size_t>(decodeAt(view, cut).second, 1);
        if (cut + length > limit)
            break;
        cut += length;
    }
    return safeText(view.substr(0, cut)) + "… (" + std::to_string(bytes.size()) + " bytes)";
}

std::vector<std::string> namedTextLines(const Bytes &bytes, std::size_t perLine) {
    const std::string_view view(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    perLine = std::max<std::size_t>(perLine, 1);
    std::vector<std::string> lines;
    std::size_t at = 0;  // always where a character starts
    for (std::size_t lineStart = 0; lineStart < bytes.size(); lineStart += perLine) {
        const std::size_t from = at;
        while (at < std::min(lineStart + perLine, bytes.size()))
            at += std::max<std::size_t>(decodeAt(view, at).second, 1);
        lines.push_back(safeText(view.substr(from, at - from)));
    }
    return lines;
}

std::string wrappedBytes(const Bytes &bytes, std::size_t perLine, std::size_t limit) {
    const std::size_t shown = std::min(bytes.size(), limit);
    auto slice = [&](std::size_t from) {
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(from);
        return Bytes(begin, begin + static_cast<std::ptrdiff_t>(std::min(perLine, shown - from)));
    };
    std::string hexLines;
    for (std::size_t from = 0; from < shown; from += perLine)
        hexLines += toHex(slice(from)) + "\n";
    std::string textLines;
    const std::vector<std::string> lines = namedTextLines(bytes, perLine);
    for (std::size_t line = 0; line * perLine < shown; ++line)
        textLines += lines[line] + "\n";
    std::string text = hexLines + textLines;
    if (bytes.size() > shown)
        text += "… (" + std::to_string(bytes.size()) + " bytes)\n";
    if (!text.empty())
        text.pop_back();
    return text;
}

std::string wrappedWords(std::string_view text, std::size_t width) {
    std::string wrapped;
    std::size_t lineLength = 0;
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        // A word longer than a line is cut: no line may outgrow the width.
        const std::size_t take = std::min({blank, std::max<std::size_t>(width, 1), text.size()});
        const std::string_view word = text.substr(0, take);
        text.remove_prefix(take == blank ? take + 1 : take);
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            wrapped.push_back('\n');
            lineLength = 0;
        } else if (lineLength > 0) {
            wrapped.push_back(' ');
            ++lineLength;
        }
        wrapped += word;
        lineLength += word.size();
    }
    return wrapped;
}

std::string safeText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const auto [codePoint, length] = decodeAt(bytes, at);
        if (length == 0) {
            appendUtf8(text, static_cast<unsigned char>(bytes[at]));
            ++at;
        } else {
            appendUtf8(text, codePoint);
            at += length;
        }
    }
    return text;
}

std::string reportText(std::string_view bytes) {
    std::string text = safeText(bytes);
    for (const auto &[raw, named] :
         {std::pair{"\xEF\xBF\xBE", "<FFFE>"}, {"\xEF\xBF\xBF", "<FFFF>"}}) {
        for (std::size_t at = 0; (at = text.find(raw, at)) != std::string::npos; at += 6)
            text.replace(at, 3, named);
    }
    return text;
}

}  // namespace marvalo
