#include "core/net/server_address.h"

#include <algorithm>
#include <array>

namespace marvalo::net {
namespace {

constexpr std::size_t kMostAddressChars = 300;
constexpr std::string_view kForms =
    "use rfc2217://HOST:PUERTO o socket://HOST:PUERTO, con HOST un nombre, una dirección IPv4 "
    "o una IPv6 entre corchetes y PUERTO de 1 a 65535";

struct Scheme {
    std::string_view prefix;
    ServerAddress::Kind kind;
};
constexpr std::array kSchemes{Scheme{"rfc2217://", ServerAddress::Kind::Rfc2217},
                              Scheme{"socket://", ServerAddress::Kind::Socket}};

// Schemes are case-insensitive (RFC 3986, 3.1): RFC2217:// is rfc2217://.
bool startsWithScheme(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != prefix[i])
            return false;
    }
    return true;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool isIpv6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
}

std::string refusal(std::string_view text, const std::string &why) {
    constexpr std::size_t kMostShownBytes = 80;
    std::size_t cut = std::min(text.size(), kMostShownBytes);
    // Never halfway through a UTF-8 character: back to where one starts.
    while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    std::string shown(text.substr(0, cut));
    if (text.size() > shown.size())
        shown += "…";
    return "La dirección \"" + shown + "\" no vale: " + why + "; " + std::string(kForms) + ".";
}

}  // namespace

std::string ServerAddress::hostPort() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

const char *ServerAddress::kindName() const {
    return kind == Kind::Rfc2217 ? "rfc2217" : "socket";
}

const char *schemeKindName(std::string_view text) {
    for (const Scheme &scheme : kSchemes) {
        if (startsWithScheme(text, scheme.prefix))
            return ServerAddress{scheme.kind, {}, {}, 0}.kindName();
    }
    return nullptr;
}

bool looksLikeServerAddress(std::string_view text) {
    return text.find("://") != std::string_view::npos;
}

Result<ServerAddress, std::string> parseServerAddress(std::string_view text) {
    if (text.size() > kMostAddressChars)
        return refusal(text, "tiene más de " + std::to_string(kMostAddressChars) + " caracteres");
    ServerAddress address;
    address.written = std::string(text);
    std::string_view rest;
    bool known = false;
    for (const Scheme &scheme : kSchemes) {
        if (startsWithScheme(text, scheme.prefix)) {
            address.kind = scheme.kind;
            rest = text.substr(scheme.prefix.size());
            known = true;
        }
    }
    if (!known) {
        const auto end = text.find("://");
        if (end == std::string_view::npos)
            return refusal(text, "no empieza por rfc2217:// ni por socket://");
        return refusal(text, "\"" + std::string(text.substr(0, end)) +
                                 "://\" no es un tipo de servidor serie conocido");
    }
    if (rest.find_first_of("?/#@") != std::string_view::npos)
        return refusal(text, "no admite usuario, ruta ni opciones (?, /, #, @)");
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return refusal(text, "falta el \"]\" que cierra la dirección IPv6");
        address.host = std::string(rest.substr(1, close - 1));
        if (address.host.empty() || address.host.find(':') == std::string::npos)
            return refusal(text, "entre corchetes solo va una dirección IPv6");
        // A link-local address names its interface after "%" (RFC 6874
        // writes it "%25" in a URL): kept as the system reads it.
        const std::size_t zone = address.host.find('%');
        if (zone != std::string::npos) {
            const std::size_t from =
                address.host.compare(zone, 3, "%25") == 0 && address.host.size() > zone + 3
                    ? zone + 3
                    : zone + 1;
            const std::string name = address.host.substr(from);
            if (name.empty() || !std::ranges::all_of(name, isNameChar))
                return refusal(text, "falta la interfaz tras \"%\", o no es un nombre de interfaz");
            address.host = address.host.substr(0, zone) + "%" + name;
        }
        for (const char c : address.host.substr(0, address.host.find('%'))) {
            if (!isIpv6Char(c))
                return refusal(text, "\"" + address.host + "\" no es una dirección IPv6");
        }
        if (close + 1 >= rest.size() || rest[close + 1] != ':')
            return refusal(text, "falta \":PUERTO\" tras la dirección");
        portText = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos)
            return refusal(text, "falta \":PUERTO\" tras el nombre del servidor");
        address.host = std::string(rest.substr(0, colon));
        portText = rest.substr(colon + 1);
        if (address.host.empty())
            return refusal(text, "falta el nombre o la dirección del servidor");
        for (const char c : address.host) {
            if (c == ':')
                return refusal(text, "una dirección IPv6 va entre corchetes, [::1]:4001");
            if (!isNameChar(c))
                return refusal(text, "\"" + address.host + "\" no es un nombre de servidor");
        }
    }
    if (portText.empty())
        return refusal(text, "falta el número de puerto");
    unsigned long port = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9' || port > 65535)
            return refusal(
                text, "el puerto \"" + std::string(portText) + "\" no es un número de 1 a 65535");
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port < 1 || port > 65535)
        return refusal(text,
                       "el puerto \"" + std::string(portText) + "\" no es un número de 1 a 65535");
    address.port = static_cast<std::uint16_t>(port);
    return address;
}

}  // namespace marvalo::net
