#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"

namespace marvalo::net {

// A serial server named where a device path would go: rfc2217://HOST:PORT
// (telnet with COM-PORT-OPTION: the line settings are ours) or
// socket://HOST:PORT (raw TCP: they are the server's). The names pySerial
// and labgrid use, so a rig's configuration reads the same everywhere.
struct ServerAddress {
    enum class Kind { Rfc2217, Socket };
    Kind kind = Kind::Rfc2217;
    std::string written;  // as the operator wrote it, for records
    std::string host;     // a name, an IPv4 address or an IPv6 one without brackets
    std::uint16_t port = 0;

    // "127.0.0.1:4001", "[::1]:4001": what fault messages name.
    std::string hostPort() const;
    // "rfc2217", "socket": the port's kind in records.
    const char *kindName() const;

    bool operator==(const ServerAddress &) const = default;
};

// True when the text is meant as a server address rather than a path
// (it has a scheme), so a bad one is refused instead of opened as a file.
bool looksLikeServerAddress(std::string_view text);

// "rfc2217" or "socket" from the scheme alone, valid address or not (what
// records call the port); null for any other text.
const char *schemeKindName(std::string_view text);

// On failure, a Spanish sentence naming the text and the forms allowed.
Result<ServerAddress, std::string> parseServerAddress(std::string_view text);

}  // namespace marvalo::net
