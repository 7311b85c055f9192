#pragma once

#include <optional>
#include <span>
#include <string>

#include "core/frames/bytes.h"
#include "core/records/register_values.h"
#include "core/result.h"
#include "core/settings/panel_state.h"
#include "core/text/option_table.h"

namespace marvalo {

// The request half of a command line, one parser for every tool:
//   korvel|iso1745 --address NN [--instruction TEXT]
//   modbus --address N --function CODE [--start N] [--words N] [--bits N]
//          [--value V] [--values V,...] [--and-mask M --or-mask M] [--read-start N]
//          [--data-hex HEX] [--object basic|regular|extended|N] [--data LIST]
//   modbus --raw HEX [--crc add|keep]
struct RequestArgs {
    std::optional<Protocol> protocol;
    std::optional<std::string> address;
    std::optional<std::string> instruction;
    std::optional<std::string> function;
    std::optional<std::string> start;
    std::optional<std::string> words;
    std::optional<std::string> data;
    std::optional<std::string> bits;
    std::optional<std::string> value;
    std::optional<std::string> values;
    std::optional<std::string> andMask;
    std::optional<std::string> orMask;
    std::optional<std::string> readStart;
    std::optional<std::string> dataHex;
    std::optional<std::string> object;
    std::optional<std::string> raw;
    std::optional<std::string> crc;
    bool anyAddress = false;  // Modbus addresses 248..255, which the standard reserves
};

// OptionRow::modes of marvalo-send's options: a bus scan reads it.
inline constexpr unsigned kScanReads = 1;

// Takes argv[i] (and its value) when it is a protocol name or a request
// option: how many arguments it used, 0 when argv[i] is not one of them, or
// what is wrong with the command line.
Result<int, std::string> takeRequestArg(RequestArgs &args, int argc, char **argv, int i);

struct RequestChoice {
    Protocol protocol;
    RequestInputs inputs;  // the panel's, for its own forms
    Bytes frame;           // the request, built once, whichever form gave it
};
struct RequestArgsProblem {
    bool usage;           // the command line is wrong (exit 64), else an input was refused (2)
    std::string message;  // Spanish: a usage problem, or the panel's message for a refused input
};

// The request from the arguments; the protocol and the address may come
// from a settings file instead (an address as the list's index, 0..99).
// The panel's own forms (Korvel, ISO 1745, 16 with --data or --words alone,
// 5 with --data) are built as the panel builds them; every other Modbus
// request from the function table, its --values read in `view`; a `view`
// given where nothing reads it, neither the values nor a reply, is refused.
Result<RequestChoice, RequestArgsProblem> requestFrom(const RequestArgs &args,
                                                      std::optional<Protocol> protocolDefault = {},
                                                      std::optional<int> addressDefault = {},
                                                      std::optional<RegisterView> view = {});

// "korvel", "iso1745", "modbus".
std::string protocolName(Protocol protocol);

// "korvel iso1745 modbus": the words a shell completes before the options.
std::string protocolWords();

// Whether the command line gave any part of a request: a protocol or any
// request option, each read from the options' own rows.
bool anyRequestField(const RequestArgs &args);

// The request's options, for parsing and --help alike.
std::span<const OptionRow<RequestArgs>> requestArgOptions();

}  // namespace marvalo
