#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "core/net/server_address.h"
#include "core/result.h"

namespace marvalo {

inline constexpr int kFirstCommPort = 1;
inline constexpr int kLastCommPort = 5;

// COM n is $MARVALO_COMn when set (a USB adapter, /dev/serial/by-id/...,
// a simulator's pty), else /dev/ttyS(n-1), the n-th on-board port.
std::string devicePathFor(int commPort);

// "COM 3 (/dev/ttyUSB0)": operators know the number, the system the path.
std::string describePort(int commPort);

// What COM n leads to, looked up at every open: an adapter may have been
// plugged in again since, under another name.
struct MappedDevice {
    std::string path;
    std::string name;                   // "FTDI FT232R USB UART, nº A50285BI"; empty when unknown
    bool kernelRs485 = false;           // the driver switches the RS485 transceiver
    std::optional<int> latencyTimerMs;  // USB adapters that hold bytes back
    std::optional<dev_t> deviceNumber;  // what sysfs says the node is, checked at open
    // A serial server's address, parsed when the table was read; a path
    // from elsewhere that names one is parsed by the port, once.
    std::optional<net::ServerAddress> server;

    // "FTDI FT232R USB UART, nº A50285BI, /dev/ttyUSB0, latencia 16 ms"
    std::string text() const;
};

// The mapping from COM numbers to devices, handed to the port from above as
// the sleeper is: the line never reads a table of adapters itself. On
// failure, why the number leads nowhere (Spanish, for the operator).
class PortMap {
  public:
    virtual ~PortMap() = default;
    virtual Result<MappedDevice, std::string> resolve(int commPort) = 0;
    // What the map saw at its last look, without looking again: for captions
    // and tooltips, which must not walk the kernel's tree at every change.
    virtual Result<MappedDevice, std::string> lastSeen(int commPort) { return resolve(commPort); }
};

// $MARVALO_COMn, else /dev/ttyS(n-1): the map when none is handed over.
class EnvironmentPortMap final : public PortMap {
  public:
    Result<MappedDevice, std::string> resolve(int commPort) override;
};

}  // namespace marvalo
