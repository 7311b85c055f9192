#pragma once

#include <optional>
#include <string>

#include "core/frames/bytes.h"

namespace marvalo::net {

// What a serial server says when it turns a client away, as ser2net does
// on a raw accepter (and over telnet, before any negotiation): one line of
// text, then it closes. Read from the very first bytes of a connection,
// so no reply of an instrument is ever taken for one, nor one for a reply.
struct ServerRefusal {
    enum class Verdict {
        NotOne,   // the first bytes are no refusal: they are the line's
        Unsure,   // too few bytes yet to tell
        Refusal,  // a whole refusal line came
    };
    Verdict verdict = Verdict::NotOne;
    bool lineInUse = false;  // another client holds it: worth trying again after our own release
    std::string words;       // the server's line, without its CR LF, made safe to show
    std::string meaning;     // what it means, in the operator's words
};

// What a server that hangs up right after speaking most likely meant.
inline constexpr const char *kLineLikelyTaken =
    "la línea probablemente está ocupada por otro cliente del servidor serie, o aún por una "
    "conexión anterior nuestra que el servidor tarda en soltar (inténtelo de nuevo en un momento)";

// `first` holds the first bytes the connection brought, in order.
ServerRefusal readRefusal(const Bytes &first);

}  // namespace marvalo::net
