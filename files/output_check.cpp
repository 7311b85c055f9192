#include "files/output_check.h"

#include "core/text/byte_text.h"
#include "files/atomic_save.h"

namespace marvalo {

Result<OutputFile, std::string> checkRunOutput(const std::filesystem::path &path, const char *what,
                                               const std::string &device,
                                               const std::vector<NamedInput> &inputs,
                                               const char *ending) {
    const std::string start =
        std::string("No se puede escribir ") + what + " en \"" + safeText(path.string()) + "\": ";
    // The very file under any name (sub/../plan.toml, a link): written,
    // it would be lost, and the next run would read a report as its input.
    for (const auto &[input, name] : inputs) {
        if (!input.empty() && sameFileOrDevice(path, input))
            return start + "es " + name + " (\"" + safeText(input.string()) +
                   "\"), que se perdería; dé otro archivo. " + ending;
    }
    // Written there, the report's bytes would reach the instrument as if
    // they were requests, or the master as if they were replies.
    if (!device.empty() && sameFileOrDevice(path, device))
        return start + "es el dispositivo que se prueba (\"" + safeText(device) +
               "\"); dé otro archivo. " + ending;
    auto output = checkOutputFile(path);
    if (!output)
        return start + output.error() + ". " + ending;
    return output.value();
}

bool sameOutput(const OutputFile &a, const OutputFile &b) {
    // A file not made yet is its folder, resolved, and its name; a link,
    // even a dangling one, the file it names.
    const auto canonical = [](const std::filesystem::path &path) {
        std::error_code unknown;
        return std::filesystem::weakly_canonical(
            std::filesystem::absolute(resolvedFile(path), unknown), unknown);
    };
    return b.path != "/dev/null" &&
           (sameFileOrDevice(a.path, b.path) || canonical(a.path) == canonical(b.path));
}

}  // namespace marvalo
