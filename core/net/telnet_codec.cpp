#include "core/net/telnet_codec.h"

namespace marvalo::net {
namespace {

using namespace telnet;

void append(Bytes &out, std::initializer_list<std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::string hexPair(std::uint8_t a, std::uint8_t b) {
    return toHex(Bytes{a, b});
}

}  // namespace

Bytes escapeData(const Bytes &data) {
    Bytes out;
    out.reserve(data.size() + 8);
    for (const std::uint8_t byte : data) {
        out.push_back(byte);
        if (byte == kIac)
            out.push_back(kIac);
    }
    return out;
}

Bytes comPortRequest(ComPortCommand command, const Bytes &value) {
    Bytes out{kIac, kSb, kComPort, static_cast<std::uint8_t>(command)};
    const Bytes escaped = escapeData(value);
    out.insert(out.end(), escaped.begin(), escaped.end());
    append(out, {kIac, kSe});
    return out;
}

Bytes setBaudrate(std::uint32_t baud) {
    // RFC 2217: the rate as four bytes, most significant first.
    return comPortRequest(
        ComPortCommand::SetBaudrate,
        {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
         static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)});
}

Bytes setDatasize(std::uint8_t bits) {
    return comPortRequest(ComPortCommand::SetDatasize, {bits});
}

Bytes setParity(ComPortParity parity) {
    return comPortRequest(ComPortCommand::SetParity, {static_cast<std::uint8_t>(parity)});
}

Bytes setStopsize(std::uint8_t bits) {
    return comPortRequest(ComPortCommand::SetStopsize, {bits});
}

Bytes setControl(std::uint8_t control) {
    return comPortRequest(ComPortCommand::SetControl, {control});
}

Bytes purgeData(std::uint8_t which) {
    return comPortRequest(ComPortCommand::PurgeData, {which});
}

Bytes serverAnswer(ComPortCommand command, const Bytes &value) {
    return comPortRequest(
        static_cast<ComPortCommand>(static_cast<std::uint8_t>(command) + kServerCodeOffset), value);
}

Bytes TelnetReader::start(bool comPort) {
    Bytes out;
    append(out, {kIac, kWill, kBinary, kIac, kDo, kBinary});
    askedUs_[kBinary] = true;
    askedHim_[kBinary] = true;
    if (comPort) {
        append(out, {kIac, kWill, kComPort});
        askedUs_[kComPort] = true;
        comPortWanted_ = true;
    }
    return out;
}

void TelnetReader::option(std::uint8_t verb, std::uint8_t code, TelnetInput &out) {
    // Binary both ways and COM-PORT-OPTION from us; anything else the
    // server offers or asks for is refused once, so nothing waits on it.
    const bool wantUs = code == kBinary || (code == kComPort && comPortWanted_);
    const bool wantHim = code == kBinary || (code == kComPort && server_);
    switch (verb) {
        case kDo:
            if (!wantUs) {
                append(out.reply, {kIac, kWont, code});
            } else if (!us_[code]) {
                us_[code] = true;
                if (!askedUs_[code])
                    append(out.reply, {kIac, kWill, code});
            }
            askedUs_[code] = false;
            break;
        case kDont:
            if (us_[code])
                append(out.reply, {kIac, kWont, code});
            if (code == kComPort && (us_[code] || askedUs_[code]))
                comPortRefused_ = true;
            binaryRefusedUs_ = binaryRefusedUs_ || code == kBinary;
            us_[code] = false;
            askedUs_[code] = false;
            break;
        case kWill:
            if (!wantHim) {
                append(out.reply, {kIac, kDont, code});
            } else if (!him_[code]) {
                him_[code] = true;
                if (!askedHim_[code])
                    append(out.reply, {kIac, kDo, code});
            }
            askedHim_[code] = false;
            break;
        default:  // kWont
            binaryRefusedHim_ = binaryRefusedHim_ || code == kBinary;
            if (him_[code])
                append(out.reply, {kIac, kDont, code});
            him_[code] = false;
            askedHim_[code] = false;
            break;
    }
}

void TelnetReader::subnegotiation(TelnetInput &out) {
    if (sub_.size() < 2 || sub_[0] != kComPort)
        return;  // another option's subnegotiation: we never agreed to one
    const std::uint8_t code = sub_[1];
    if (server_) {
        // A client's command; a server's answer sent to a server means nothing.
        if (code >= 1 && code <= static_cast<std::uint8_t>(ComPortCommand::PurgeData))
            out.answers.push_back(
                {static_cast<ComPortCommand>(code), Bytes(sub_.begin() + 2, sub_.end())});
        return;
    }
    if (code <= kServerCodeOffset)
        return;  // a client's command sent to us: a server has no business here
    const auto command = static_cast<ComPortCommand>(code - kServerCodeOffset);
    switch (command) {
        case ComPortCommand::NotifyLinestate:
            ++out.lineStates;
            return;
        case ComPortCommand::NotifyModemstate:
            ++out.modemStates;
            return;
        case ComPortCommand::FlowcontrolSuspend:
        case ComPortCommand::FlowcontrolResume:
            return;
        default:
            out.answers.push_back({command, Bytes(sub_.begin() + 2, sub_.end())});
    }
}

void TelnetReader::keepSub(std::uint8_t byte, TelnetInput &out) {
    // Refused the moment it outgrows any server's: waiting for its end would
    // swallow everything the server sends after, the reply included.
    if (sub_.size() >= kMaxSubnegotiation) {
        out.junk = "una subnegociación de más de " + std::to_string(kMaxSubnegotiation) +
                   " bytes sin cerrar";
        return;
    }
    sub_.push_back(byte);
}

TelnetInput TelnetReader::feed(const Bytes &received) {
    TelnetInput out;
    out.data.reserve(received.size());
    for (const std::uint8_t byte : received) {
        if (!out.junk.empty())
            break;
        switch (state_) {
            case State::Data:
                if (byte == kIac)
                    state_ = State::Iac;
                else
                    out.data.push_back(byte);
                break;
            case State::Iac:
                if (byte == kIac) {
                    out.data.push_back(kIac);
                    state_ = State::Data;
                } else if (byte >= kWill && byte <= kDont) {
                    verb_ = byte;
                    state_ = State::Option;
                } else if (byte == kSb) {
                    sub_.clear();
                    state_ = State::Sub;
                } else if (byte >= kFirstCommand) {
                    state_ = State::Data;  // NOP, GA, BRK, AYT...: nothing for the line
                } else {
                    out.junk = "IAC seguido de un byte que no es una orden telnet (" +
                               hexPair(kIac, byte) + ")";
                }
                break;
            case State::Option:
                option(verb_, byte, out);
                state_ = State::Data;
                break;
            case State::Sub:
                if (byte == kIac)
                    state_ = State::SubIac;
                else
                    keepSub(byte, out);
                break;
            case State::SubIac:
                if (byte == kIac) {
                    keepSub(kIac, out);
                    state_ = State::Sub;
                } else if (byte == kSe) {
                    state_ = State::Data;
                    subnegotiation(out);
                } else {
                    out.junk = "una subnegociación sin cerrar (" + hexPair(kIac, byte) +
                               " en lugar de FF F0)";
                }
                break;
        }
    }
    return out;
}

bool opensNegotiation(const Bytes &first) {
    return first.size() >= 2 && first[0] == telnet::kIac && first[1] >= telnet::kSb &&
           first[1] != telnet::kIac;
}

}  // namespace marvalo::net
