#pragma once

#include <string>

namespace marvalo {

inline constexpr int kFirstCommPort = 1;
inline constexpr int kLastCommPort = 5;

// COM n is $MARVALO_COMn when set (a USB adapter, /dev/serial/by-id/...,
// a simulator's pty), else /dev/ttyS(n-1), the n-th on-board port.
std::string devicePathFor(int commPort);

// "COM 3 (/dev/ttyUSB0)": operators know the number, the system the path.
std::string describePort(int commPort);

}  // namespace marvalo
