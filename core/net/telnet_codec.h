#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/frames/bytes.h"

namespace marvalo::net {

// Telnet (RFC 854) as a serial server speaks it, with the COM-PORT-OPTION
// of RFC 2217 on top: pure byte arithmetic, bytes in and events and bytes
// out. The socket that carries it lives in link/.
namespace telnet {
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kFirstCommand = kSe;  // IAC before anything lower is no telnet
inline constexpr std::uint8_t kBinary = 0;          // RFC 856
inline constexpr std::uint8_t kComPort = 44;        // RFC 2217
}  // namespace telnet

// RFC 2217's client commands; the server answers each with its code + 100.
enum class ComPortCommand : std::uint8_t {
    SetBaudrate = 1,
    SetDatasize = 2,
    SetParity = 3,
    SetStopsize = 4,
    SetControl = 5,
    NotifyLinestate = 6,
    NotifyModemstate = 7,
    FlowcontrolSuspend = 8,
    FlowcontrolResume = 9,
    SetLinestateMask = 10,
    SetModemstateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t kServerCodeOffset = 100;

// SET-PARITY values, and SET-STOPSIZE's (3 is one and a half).
enum class ComPortParity : std::uint8_t { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
// SET-CONTROL values for RTS (DTR is 8/9, flow control 1..3: not ours).
inline constexpr std::uint8_t kControlRtsOn = 11;
inline constexpr std::uint8_t kControlRtsOff = 12;
// PURGE-DATA: 1 the server's receive buffer (what the line sent us).
inline constexpr std::uint8_t kPurgeReceive = 1;

// Data for the line: every 0xFF doubled so the server does not take it
// for a command.
Bytes escapeData(const Bytes &data);
// IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
Bytes comPortRequest(ComPortCommand command, const Bytes &value);
Bytes setBaudrate(std::uint32_t baud);  // four bytes, network order
Bytes setDatasize(std::uint8_t bits);
Bytes setParity(ComPortParity parity);
Bytes setStopsize(std::uint8_t bits);
Bytes setControl(std::uint8_t control);
Bytes purgeData(std::uint8_t which);
// A server's answer to a client's command: its code + 100 and the value it now holds.
Bytes serverAnswer(ComPortCommand command, const Bytes &value);

// A server's answer to one of the commands above: the client's code and the
// value the server now holds.
struct ComPortAnswer {
    ComPortCommand command;
    Bytes value;
    bool operator==(const ComPortAnswer &) const = default;
};

// What one read of the socket held, once the telnet is taken out.
struct TelnetInput {
    Bytes data;                          // the line's bytes, unescaped
    Bytes reply;                         // negotiation answers to send back at once
    std::vector<ComPortAnswer> answers;  // in the order they came
    int lineStates = 0;                  // NOTIFY-LINESTATE/MODEMSTATE seen (never data)
    int modemStates = 0;
    std::string junk;  // non-empty: the server broke telnet; names the bytes
};

// The receiving side of a connection: keeps what a read cut in half (an
// IAC at the end, a subnegotiation still open) for the next read. Linear in
// the input and bounded in what it holds, whatever the server sends.
class TelnetReader {
  public:
    // What the client says first: binary both ways, and, unless raw, that it
    // will speak COM-PORT-OPTION (the server answers DO).
    Bytes start(bool comPort);
    // The other side: a serial server's, which agrees to the client's
    // COM-PORT-OPTION and hands its commands over as `answers` (the client's
    // code and value), for the server to carry out and answer with
    // serverAnswer.
    void serve() { server_ = true; }
    TelnetInput feed(const Bytes &received);

    // Whether the server agreed to each: COM-PORT-OPTION (it said DO) and
    // binary in each direction.
    bool comPortAgreed() const { return us_[telnet::kComPort]; }
    bool comPortRefused() const { return comPortRefused_; }
    bool binaryBothWays() const { return us_[telnet::kBinary] && him_[telnet::kBinary]; }
    // The server said DONT or WONT BINARY and has not agreed since: 0xFF and
    // CR would not cross intact. The last word counts (RFC 1143): a server
    // may refuse first and agree a moment later.
    bool binaryRefused() const {
        return (binaryRefusedUs_ && !us_[telnet::kBinary]) ||
               (binaryRefusedHim_ && !him_[telnet::kBinary]);
    }
    // Inside IAC SB ... not yet closed by IAC SE: the line's bytes wait.
    bool insideSubnegotiation() const { return state_ == State::Sub || state_ == State::SubIac; }

  private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void option(std::uint8_t verb, std::uint8_t code, TelnetInput &out);
    void subnegotiation(TelnetInput &out);
    void keepSub(std::uint8_t byte, TelnetInput &out);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    Bytes sub_;
    // RFC 1143's rule that stops loops: answer only a change of state.
    std::array<bool, 256> us_{};       // options we perform
    std::array<bool, 256> him_{};      // options the server performs
    std::array<bool, 256> askedUs_{};  // asked for, no answer yet
    std::array<bool, 256> askedHim_{};
    bool comPortWanted_ = false;
    bool server_ = false;
    bool comPortRefused_ = false;
    bool binaryRefusedUs_ = false;
    bool binaryRefusedHim_ = false;
};

// Whether a connection's first bytes open a telnet negotiation (IAC and a
// verb, or IAC SB): a server that speaks telnet, however it was reached.
bool opensNegotiation(const Bytes &first);

// The longest subnegotiation a serial server sends (a signature is the
// longest, and we never ask for one): beyond this it is junk.
inline constexpr std::size_t kMaxSubnegotiation = 256;

}  // namespace marvalo::net
