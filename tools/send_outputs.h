#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/records/exchange_record.h"
#include "files/capture_file.h"
#include "files/output_check.h"
#include "files/output_file.h"
#include "tools/send_options.h"

namespace marvalo {

// The run's files, each checked before the first byte goes to the line.
struct SendOutputs {
    std::optional<OutputFile> junit;
    std::optional<OutputFile> pcap;
};

// Every output the options name, or nullopt once the first that cannot be
// written, that is `device` itself or one of `inputs`, has been named on
// stderr (nothing is sent then).
std::optional<SendOutputs> checkSendOutputs(const SendOptions &options, const std::string &device,
                                            const std::vector<NamedInput> &inputs);

// Why the outputs cannot go where asked, for a usage error: two outputs on
// one file, two reports on one stream, a report on our stderr. A JUnit
// report alone on stdout moves a plan's case lines to stderr instead.
std::optional<std::string> outputClash(const SendOptions &options, const SendOutputs &outputs);

// Whether the JUnit report takes our stdout, so the person's lines go to
// stderr.
bool junitOnStdout(const SendOutputs &outputs);

// The run's capture, opened before the first exchange and appended to as
// each one ends; nullopt, or true from captureFailed, once a failure has
// been said on stderr.
std::optional<CaptureFile> openCapture(const OutputFile &file);
bool captureFailed(const CaptureFile &file, const Result<Done, std::string> &written);

// A whole run's capture at once, for Wireshark; false (said on stderr)
// when it could not be written.
bool writeCapture(const OutputFile &file, const std::vector<ExchangeRecord> &records);

}  // namespace marvalo
