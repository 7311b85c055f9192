#pragma once

#include <string>

#include "core/result.h"

namespace marvalo {

// Why the line refused an operation: which operation, on which port, and the
// system's reason. message() is the sentence the operator reads.
struct LinkError {
    enum class Kind {
        NoSuchPort,    // nothing at that device path
        Busy,          // another program holds the port
        NoPermission,  // the user may not open the device
        NotASerialPort,
        BadSettings,  // a settings string the port cannot take
        BadPortNumber,
        PortIsOpen,  // the port number changes only while closed
        NotOpen,
        NoRts,     // the device has no RTS line to switch
        Vanished,  // the device went away while open (unplugged adapter)
        Io,        // any other failure of the system call
        Stopped,   // a stop request ended a wait
    };
    Kind kind = Kind::Io;
    std::string operation;  // "abrir", "escribir", ...
    std::string port;       // "COM 3 (/dev/ttyUSB0)"
    std::string reason;     // strerror text or our own explanation
    // A server turned the connection away: whatever was written never
    // reached the line.
    bool lineUntouched = false;
    // Turned away once the connection seemed ours, by a line still being
    // handed back: the exchange may start again at once on a new
    // connection (the pause before it is waited already).
    bool askAgain = false;

    std::string message() const;
};

using LinkStatus = Result<Done, LinkError>;

}  // namespace marvalo
