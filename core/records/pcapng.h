#pragma once

#include <string>
#include <vector>

#include "core/records/exchange_record.h"

namespace marvalo {

// Exchanges as a pcapng capture that Wireshark and tshark open as they are:
// link type LINKTYPE_WIRESHARK_UPPER_PDU (252), each request and each reply
// one packet led by exported-PDU tags that name its dissector ("mbrtu" for
// Modbus RTU; "data-text-lines" with the protocol column "Korvel" or
// "ISO 1745" and the frame's text, named, for the Info column, for the
// text protocols). Timestamps in nanoseconds: a request
// when it left, a reply at its first byte. The direction is in the packet
// flags, and a comment carries the verdict and the first-byte delay (cut
// with "…" where it would pass an option's 65,535 bytes).
// Modbus packets also carry UDP port tags (40000 to 502 and back) so that
// tshark -o mbrtu.tcp.port:502 pairs a function 5 reply, which equals its
// request, with that request.
std::string pcapngCapture(const std::vector<const ExchangeRecord *> &records);

// The same capture in pieces, for writing as a run goes: the header once,
// then each exchange's packets (none when nothing went on the line), each
// piece whole blocks, so a file cut after any piece is a valid capture.
std::string pcapngHeader();
std::string pcapngExchange(const ExchangeRecord &record);

}  // namespace marvalo
