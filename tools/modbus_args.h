#pragma once

#include <optional>

#include "core/records/register_values.h"
#include "tools/request_args.h"

namespace marvalo {

// True when the arguments are one of the panel's own Modbus forms (16 with
// --data or --words and no --values, 5 with --data), built as the panel
// builds them, byte for byte.
bool isPanelModbusForm(const RequestArgs &args);

// An option the panel's form does not read, refused by name with what the
// function takes instead (a usage problem); nothing when all are read.
// `registers`: --registers was given, which no panel form reads.
std::optional<RequestArgsProblem> panelFormUnread(const RequestArgs &args, bool registers);

// Any other Modbus request: --raw as given, or the function table's layout
// filled from the options that apply to it. A missing or wrong value is
// refused naming the option and what is allowed; an option the function
// does not read is a usage problem, --registers (`view`, when given) too:
// it reads a write's values and the registers of a reply.
Result<Bytes, RequestArgsProblem> modbusFrameFrom(const RequestArgs &args,
                                                  std::optional<int> addressDefault,
                                                  std::optional<RegisterView> view);

}  // namespace marvalo
