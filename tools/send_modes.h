#pragma once

#include "ports/bench_ports.h"
#include "tools/request_args.h"
#include "tools/send_options.h"
#include "tools/stdout_writer.h"

namespace marvalo {

// --plan FILE: check it whole, then (without --check) run it, print a line
// per case (or TAP, or JSON per exchange) and write the JUnit report.
int runPlanFile(const SendOptions &options, BenchPorts &benchPorts, StdoutWriter &out);

// --scan ADDRESSES: probe each address at each rate and framing, then the
// table (or JSON) of what answered.
int runScan(const SendOptions &options, BenchPorts &benchPorts);

// The request given on the command line, --count times.
int runExchanges(const SendOptions &options, const RequestArgs &request, BenchPorts &benchPorts);

}  // namespace marvalo
