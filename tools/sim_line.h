#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/frames/bytes.h"
#include "core/net/server_address.h"
#include "core/net/telnet_codec.h"
#include "core/result.h"
#include "link/termios_port.h"
#include "os/file_descriptor.h"

namespace marvalo {

// The end of a line the simulator serves: its own pty, a serial device, or
// a TCP listener on loopback (raw, or telnet with RFC 2217's COM-PORT-OPTION).
class SimLine {
  public:
    virtual ~SimLine() = default;
    // What to wait on for the next bytes (or the next client).
    virtual int pollFd() const = 0;
    // What arrived, appended; false when the line failed (said on stderr).
    virtual bool read(Bytes &into) = 0;
    virtual bool write(const Bytes &bytes) = 0;
    // The first line printed: where a master finds us.
    virtual std::string where() const = 0;
    // A rate the master set over the network (RFC 2217), taken once.
    virtual std::optional<int> takeBaudChange() { return std::nullopt; }
    // Whether bytes cross at the line's rate (a real port), so a reply
    // takes its characters' time to go out.
    virtual bool timed() const { return false; }
};

// The controller side of a pty we open, holding the device end ourselves
// so the pty lives between the panel's exchanges.
Result<std::unique_ptr<SimLine>, std::string> openPtyLine();
// A real serial device through the termios layer the panel uses.
Result<std::unique_ptr<SimLine>, std::string> openDeviceLine(const std::string &path,
                                                             const std::string &settings);
// Where to listen, from HOST:PORT ("127.0.0.1:5020"; port 0 picks one):
// only loopback unless `anyAddress`. On refusal, what is allowed.
Result<net::ServerAddress, std::string> listenAddress(const std::string &hostPort, bool rfc2217,
                                                      bool anyAddress);
// A TCP listener there, serving one client at a time.
Result<std::unique_ptr<SimLine>, std::string> openTcpLine(const net::ServerAddress &address,
                                                          bool rfc2217);

}  // namespace marvalo
