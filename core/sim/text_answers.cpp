#include "core/sim/text_answers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/plans/reply_pattern.h"

namespace marvalo::sim {
namespace {

// A printf conversion of one double, bounded so no reply can grow without
// end: flags, up to two digits of width and of precision, f e g or d.
bool goodConversion(std::string_view conversion) {
    std::size_t at = 0;
    while (at < conversion.size() &&
           std::string_view("-+ 0#").find(conversion[at]) != std::string_view::npos)
        ++at;
    auto digits = [&] {
        std::size_t n = 0;
        while (at < conversion.size() && conversion[at] >= '0' && conversion[at] <= '9' && n < 3) {
            ++at;
            ++n;
        }
        return n;
    };
    if (digits() > 2)
        return false;
    if (at < conversion.size() && conversion[at] == '.') {
        ++at;
        const std::size_t n = digits();
        if (n == 0 || n > 2)
            return false;
    }
    if (at < conversion.size() &&
        std::string_view("fegd").find(conversion[at]) != std::string_view::npos)
        ++at;
    return at == conversion.size() && at > 0;
}

template <typename Value>
std::string printed(const std::string &format, Value value) {
    const int size = std::snprintf(nullptr, 0, format.c_str(), value);
    std::string out(static_cast<std::size_t>(std::max(size, 0)) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), value);
    out.pop_back();
    return out;
}

// Written in full: an f64 reaches 309 digits, and a value past a long
// long's range is written as the whole number it is, never wrapped.
std::string formatted(std::string_view conversion, double value) {
    const bool integer = !conversion.empty() && conversion.back() == 'd';
    std::string format =
        "%" + std::string(integer ? conversion.substr(0, conversion.size() - 1) : conversion);
    const bool fits = std::isfinite(value) && std::fabs(value) < 9.2e18;
    if (integer && fits) {
        format += "lld";
        return printed(format, static_cast<long long>(std::trunc(value)));
    }
    if (integer)
        format = format.substr(0, format.find('.')) + ".0f";
    else if (format.back() != 'f' && format.back() != 'e' && format.back() != 'g')
        format += 'g';
    return printed(format, integer ? std::trunc(value) : value);
}

// Walks a template once, handing each piece to `text` or `field`; false at
// the first brace that opens nothing or closes nothing.
template <typename Text, typename Field>
bool walk(std::string_view reply, Text text, Field field) {
    for (std::size_t at = 0; at < reply.size();) {
        const char c = reply[at];
        if ((c == '{' || c == '}') && at + 1 < reply.size() && reply[at + 1] == c) {
            text(std::string_view(&reply[at], 1));
            at += 2;
        } else if (c == '{') {
            const std::size_t end = reply.find('}', at);
            if (end == std::string_view::npos || !field(reply.substr(at + 1, end - at - 1)))
                return false;
            at = end + 1;
        } else if (c == '}') {
            return false;
        } else {
            text(std::string_view(&reply[at], 1));
            ++at;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> templateProblem(std::string_view reply, std::string_view pattern) {
    const int groups = CompiledPattern(pattern).groups();
    std::string problem;
    const bool fine = walk(
        reply, [](std::string_view) {},
        [&](std::string_view name) {
            if (name == "address" || name == "value")
                return true;
            if (name.starts_with("value:")) {
                if (goodConversion(name.substr(6)))
                    return true;
                problem = "{" + std::string(name) +
                          "} no es un formato válido; se admite como {value:+08.1f} (signo, "
                          "ancho, decimales y f, e, g o d)";
                return false;
            }
            if (name.size() == 1 && name[0] >= '1' && name[0] <= '9') {
                if (name[0] - '0' <= groups)
                    return true;
                problem = "{" + std::string(name) + "} pide un grupo que instruction no tiene (" +
                          std::to_string(groups) + ")";
                return false;
            }
            problem = "{" + std::string(name) +
                      "} no existe; se admite {address}, {value}, {value:FORMATO}, {1}..{9} y "
                      "{{ }} para las llaves";
            return false;
        });
    if (fine)
        return std::nullopt;
    return problem.empty() ? "una llave sin pareja; se escribe {{ o }} para una llave sola"
                           : problem;
}

std::string renderReply(std::string_view reply, const std::string &address, double value,
                        const std::vector<std::string> &groups) {
    std::string out;
    walk(
        reply, [&](std::string_view piece) { out += piece; },
        [&](std::string_view name) {
            if (name == "address")
                out += address;
            else if (name == "value")
                out += formatted("g", value);
            else if (name.starts_with("value:"))
                out += formatted(name.substr(6), value);
            else if (static_cast<std::size_t>(name[0] - '1') < groups.size())
                out += groups[static_cast<std::size_t>(name[0] - '1')];
            return true;
        });
    return out;
}

}  // namespace marvalo::sim
