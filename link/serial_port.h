#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/frames/bytes.h"
#include "link/line_io.h"
#include "link/line_settings.h"
#include "link/link_error.h"
#include "link/port_names.h"

namespace marvalo {

// The serial port as the panel and the exchange use it: a port number and a
// settings string chosen while closed, and the line's transfers. Every
// operation that can fail says so as a value.
class SerialPort : public LineTransfer {
  public:
    SerialPort();

    int commPort() const { return commPort_; }
    // 1..5; only while closed, so an open descriptor never outlives its name.
    LinkStatus setCommPort(int number);

    const std::string &settings() const { return settingsText_; }
    const LineSettings &line() const { return line_; }
    // Parsed at once; applied at once when open, else at the next open. A
    // refused string leaves the previous one in force.
    LinkStatus setSettings(const std::string &text);

    // Where COM numbers lead; the environment's map unless one is handed
    // over. The map must outlive the port.
    void setPortMap(PortMap &map) { map_ = &map; }
    PortMap &portMap() const { return *map_; }

    // "COM 3 (FTDI FT232R USB UART, nº A50285BI, /dev/ttyUSB0)" for messages.
    virtual std::string describe() const;
    // "local", "rfc2217" or "socket": what the records say the port is.
    virtual std::string kind() const { return "local"; }
    // The settings as records show them: the server's own on raw TCP.
    virtual std::string recordedSettings() const { return settings(); }
    // "COM 3: FTDI FT232R USB UART, nº A50285BI, /dev/ttyUSB0", or why COM 3
    // leads nowhere: for the port caption's tooltip. Without lookAgain, from
    // what the map last saw.
    std::string describeAdapter(bool lookAgain = true) const;
    // The local device COM n leads to (as the map last saw it), for looking
    // up who else holds it; empty when it leads nowhere.
    virtual std::string devicePath() const;
    // True when the driver switches the RS485 transceiver itself, so the
    // exchange must not time RTS around the write.
    virtual bool kernelSwitchesRs485() const { return false; }
    // Grows each time an exchange opens a line other than the one it held:
    // a port that never looks a number up keeps its one line.
    virtual std::uint64_t lineChanges() const { return 0; }

    // Asked while a port waits on something other than the line (a server
    // connecting or answering), so a stop is not held up by that wait.
    void setStopQuery(std::function<bool()> query) { stopQuery_ = std::move(query); }
    const std::function<bool()> &stopQuery() const { return stopQuery_; }

    // At the start of every exchange: the line it is to use, open. A port
    // whose number may lead elsewhere by now looks it up here, once.
    virtual LinkStatus prepareExchange() { return portOpen() ? LinkStatus(Done{}) : open(); }

  protected:
    virtual LinkStatus applyLine(const LineSettings &line) = 0;
    LinkError error(LinkError::Kind kind, std::string operation, std::string reason) const;
    bool stopAsked() const { return stopQuery_ && stopQuery_(); }

  private:
    int commPort_ = 1;
    PortMap *map_;
    std::string settingsText_ = "9600,n,8,1";
    LineSettings line_;
    std::function<bool()> stopQuery_;
};

}  // namespace marvalo
