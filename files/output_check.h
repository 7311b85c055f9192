#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/result.h"
#include "files/output_file.h"

namespace marvalo {

// A file the run reads (a plan, an instrument file, the ports table) and
// its name in a message ("el plan").
using NamedInput = std::pair<std::filesystem::path, const char *>;

// Whether `path` can take `what` ("el informe JUnit"): never one of the
// run's inputs, nor the device under test, and writable. On refusal, the
// whole message (Spanish), ending in `ending` (what the run did not do).
Result<OutputFile, std::string> checkRunOutput(const std::filesystem::path &path, const char *what,
                                               const std::string &device,
                                               const std::vector<NamedInput> &inputs,
                                               const char *ending);

// Whether two outputs are one file reached by two names: written, one
// would replace the other, or both would be interleaved in it.
bool sameOutput(const OutputFile &a, const OutputFile &b);

}  // namespace marvalo
