#include "core/plans/reply_pattern.h"

#include <re2/re2.h>

namespace marvalo {
namespace {

// Enough for any pattern a plan needs; a pattern that outgrows it is
// refused when the plan is read, not while a unit waits.
constexpr std::int64_t kPatternMemory = 8 << 20;

RE2::Options patternOptions() {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingUTF8);
    options.set_max_mem(kPatternMemory);
    options.set_log_errors(false);
    return options;
}

std::string problemText(RE2::ErrorCode code) {
    switch (code) {
        case RE2::ErrorBadEscape:
            return "un escape que no existe";
        case RE2::ErrorBadCharClass:
        case RE2::ErrorBadCharRange:
            return "una clase de caracteres mal formada";
        case RE2::ErrorMissingBracket:
            return "falta el ] que cierra una clase";
        case RE2::ErrorMissingParen:
        case RE2::ErrorUnexpectedParen:
            return "los paréntesis no casan";
        case RE2::ErrorTrailingBackslash:
            return "termina en \\";
        case RE2::ErrorRepeatArgument:
            return "una repetición sin nada que repetir";
        case RE2::ErrorRepeatSize:
            return "una repetición {n,m} fuera de 0..1000 o demasiado grande";
        case RE2::ErrorRepeatOp:
            return "repeticiones seguidas (**, +*): se admite una sola";
        case RE2::ErrorBadPerlOp:
            return "una construcción de Perl que no se admite (lookaround, referencias atrás)";
        case RE2::ErrorBadUTF8:
            return "UTF-8 no válido";
        case RE2::ErrorBadNamedCapture:
            return "un grupo con nombre mal formado";
        case RE2::ErrorPatternTooLarge:
            return "demasiado grande para la memoria que se le da";
        default:
            return "no se entiende";
    }
}

}  // namespace

std::optional<PatternProblem> patternProblem(std::string_view pattern) {
    const RE2 compiled(pattern, patternOptions());
    if (compiled.ok())
        return std::nullopt;
    const std::size_t at = pattern.find(compiled.error_arg());
    return PatternProblem{
        at == std::string_view::npos ? 0 : at,
        problemText(compiled.error_code()) + " en \"" + compiled.error_arg() + "\""};
}

bool patternFinds(std::string_view pattern, std::string_view text) {
    const RE2 compiled(pattern, patternOptions());
    return compiled.ok() && RE2::PartialMatch(text, compiled);
}

struct CompiledPattern::Compiled {
    RE2 re;
    explicit Compiled(std::string_view pattern) : re(pattern, patternOptions()) {}
};

CompiledPattern::CompiledPattern(std::string_view pattern)
    : compiled_(std::make_unique<Compiled>(pattern)) {}
CompiledPattern::~CompiledPattern() = default;
CompiledPattern::CompiledPattern(CompiledPattern &&) noexcept = default;
CompiledPattern &CompiledPattern::operator=(CompiledPattern &&) noexcept = default;

int CompiledPattern::groups() const {
    return compiled_->re.ok() ? compiled_->re.NumberOfCapturingGroups() : 0;
}

std::optional<std::vector<std::string>> CompiledPattern::wholeMatch(std::string_view text) const {
    if (!compiled_->re.ok())
        return std::nullopt;
    const int count = groups();
    std::vector<re2::StringPiece> found(static_cast<std::size_t>(count) + 1);
    if (!compiled_->re.Match(text, 0, text.size(), RE2::ANCHOR_BOTH, found.data(), count + 1))
        return std::nullopt;
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i)
        out.emplace_back(std::string_view(found[static_cast<std::size_t>(i)]));
    return out;
}

}  // namespace marvalo
