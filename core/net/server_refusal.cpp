#include "core/net/server_refusal.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/text/byte_text.h"

namespace marvalo::net {
namespace {

struct Known {
    std::string_view words;
    bool lineInUse;
    std::string_view meaning;
};

// ser2net's words, as it sends them on this machine (4.3).
constexpr std::array kKnown{
    Known{"Port already in use", true, kLineLikelyTaken},
    Known{"Port's device already in use", true,
          "la línea probablemente está ocupada por otro cliente del servidor serie, en otro de "
          "sus puertos TCP para el mismo dispositivo, o aún por una conexión anterior nuestra a "
          "ese otro puerto que el servidor tarda en soltar (inténtelo de nuevo en un momento)"},
    Known{"Device open failure", false,
          "el servidor serie no pudo abrir su dispositivo (¿adaptador desconectado en el "
          "servidor, sin permiso, o lo usa otro programa allí?); la línea no está ocupada por "
          "otro cliente"},
};
// A refusal line longer than this is none: nothing is held back for ever.
constexpr std::size_t kLongestLine = 200;

}  // namespace

ServerRefusal readRefusal(const Bytes &first) {
    const std::string_view text(reinterpret_cast<const char *>(first.data()), first.size());
    for (const Known &known : kKnown) {
        const std::size_t common = std::min(text.size(), known.words.size());
        if (text.substr(0, common) != known.words.substr(0, common))
            continue;
        if (text.size() < known.words.size())
            return {ServerRefusal::Verdict::Unsure, known.lineInUse, {}, {}};
        const std::size_t end = text.find_first_of("\r\n", known.words.size());
        if (end == std::string_view::npos) {
            if (text.size() > kLongestLine)
                return {};
            return {ServerRefusal::Verdict::Unsure, known.lineInUse, {}, {}};
        }
        return {ServerRefusal::Verdict::Refusal, known.lineInUse,
                safeText(text.substr(0, std::min(end, kLongestLine))), std::string(known.meaning)};
    }
    return {};
}

}  // namespace marvalo::net
