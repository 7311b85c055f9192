#include "tools/send_outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

#include "core/text/byte_text.h"
#include "files/atomic_save.h"
#include "tools/stop_signal.h"

namespace marvalo {
namespace {

bool checkOne(const std::optional<std::string> &path, const char *what, const std::string &device,
              const std::vector<NamedInput> &inputs, std::optional<OutputFile> &checked) {
    if (!path)
        return true;
    auto output = checkRunOutput(*path, what, device, inputs, "Nada se envió.");
    if (!output) {
        std::cerr << output.error() << "\n";
        return false;
    }
    checked = output.value();
    return true;
}

}  // namespace

std::optional<SendOutputs> checkSendOutputs(const SendOptions &options, const std::string &device,
                                            const std::vector<NamedInput> &inputs) {
    SendOutputs outputs;
    if (!checkOne(options.junit, "el informe JUnit", device, inputs, outputs.junit) ||
        !checkOne(options.pcap, "la captura", device, inputs, outputs.pcap))
        return std::nullopt;
    return outputs;
}

bool junitOnStdout(const SendOutputs &outputs) {
    return outputs.junit && outputs.junit->ownDescriptor == STDOUT_FILENO;
}

std::optional<std::string> outputClash(const SendOptions &options, const SendOutputs &outputs) {
    // One file reached by two names: the report's rename would replace the
    // capture, or both would be interleaved in it.
    if (outputs.junit && outputs.pcap && sameOutput(*outputs.junit, *outputs.pcap))
        return std::string("--junit y --pcap llevan al mismo archivo (\"") +
               safeText(outputs.pcap->path.string()) +
               "\"): uno borraría al otro; dé un archivo para cada uno. Nada se envió.";
    // Our stderr takes the warnings and the summary: a report there would
    // not be a report. Nor is one on stdout when the lines moved to stderr
    // share its file (2>&1).
    struct stat out {};
    struct stat err {};
    const bool errIsOut = ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 &&
                          !S_ISCHR(out.st_mode) && out.st_dev == err.st_dev &&
                          out.st_ino == err.st_ino;
    for (const auto &[output, option] :
         {std::pair{&outputs.junit, "--junit"}, std::pair{&outputs.pcap, "--pcap"}}) {
        if (*output && ((*output)->ownDescriptor == STDERR_FILENO ||
                        ((*output)->ownDescriptor == STDOUT_FILENO && errIsOut)))
            return std::string(option) +
                   " apunta a la salida de errores, donde van los avisos y el resumen: dé un "
                   "archivo para él. Nada se envió.";
    }
    if (outputs.pcap && outputs.pcap->ownDescriptor == STDOUT_FILENO)
        return std::string(
            "--pcap apunta a la salida estándar, donde ya van las líneas o el "
            "JSON de cada intercambio: dé un archivo para la captura. Nada se envió.");
    if (junitOnStdout(outputs) && (options.tap || options.json))
        return std::string("--junit apunta a la salida estándar, donde ya va el informe de ") +
               (options.tap ? "--tap" : "--json") +
               ": dos informes en un mismo flujo no se "
               "pueden leer; dé un archivo para uno de ellos. Nada se envió.";
    return std::nullopt;
}

std::optional<CaptureFile> openCapture(const OutputFile &file) {
    auto opened = CaptureFile::open(file, stopWriteTimeIsUp);
    if (!opened) {
        std::cerr << "No se puede escribir la captura \"" << safeText(file.path.string())
                  << "\": " << opened.error() << ". Nada se envió.\n";
        return std::nullopt;
    }
    return std::move(opened).value();
}

bool captureFailed(const CaptureFile &file, const Result<Done, std::string> &written) {
    if (!written) {
        std::cerr << "No se pudo guardar la captura \"" << safeText(file.path().string())
                  << "\": " << written.error() << "\n";
    }
    return !written;
}

bool writeCapture(const OutputFile &file, const std::vector<ExchangeRecord> &records) {
    auto capture = openCapture(file);
    if (!capture)
        return false;
    for (const ExchangeRecord &record : records) {
        if (captureFailed(*capture, capture->append(record)))
            return false;
    }
    return !captureFailed(*capture, capture->close());
}

}  // namespace marvalo
