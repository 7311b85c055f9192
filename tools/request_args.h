#pragma once

#include <optional>
#include <string>

#include "core/result.h"
#include "core/settings/panel_state.h"

namespace marvalo {

// The request half of a command line, one parser for every tool:
//   korvel|iso1745 --address NN [--instruction TEXT]
//   modbus --address N --function 3|4|16|5 [--start N] [--words N] [--data LIST]
struct RequestArgs {
    std::optional<Protocol> protocol;
    std::optional<std::string> address;
    std::optional<std::string> instruction;
    std::optional<std::string> function;
    std::optional<std::string> start;
    std::optional<std::string> words;
    std::optional<std::string> data;
};

// Takes argv[i] (and its value) when it is a protocol name or a request
// option: how many arguments it used, 0 when argv[i] is not one of them, or
// what is wrong with the command line.
Result<int, std::string> takeRequestArg(RequestArgs &args, int argc, char **argv, int i);

struct RequestChoice {
    Protocol protocol;
    RequestInputs inputs;
};
struct RequestArgsProblem {
    bool usage;           // the command line is wrong (exit 64), else an input was refused (2)
    std::string message;  // Spanish: a usage problem, or the panel's message for a refused input
};

// The panel's inputs from the arguments; the protocol and the address may
// come from a settings file instead (an address as the list's index, 0..99).
Result<RequestChoice, RequestArgsProblem> requestFrom(const RequestArgs &args,
                                                      std::optional<Protocol> protocolDefault = {},
                                                      std::optional<int> addressDefault = {});

// "korvel", "iso1745", "modbus".
std::string protocolName(Protocol protocol);

// The help text for the request half.
extern const char *const kRequestArgsHelp;

}  // namespace marvalo
