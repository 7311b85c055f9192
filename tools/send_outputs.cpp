#include "tools/send_outputs.h"

#include <unistd.h>

#include <iostream>

#include "core/text/byte_text.h"

namespace marvalo {
namespace {

bool checkOne(const std::optional<std::string> &path, const char *what, const std::string &device,
              std::optional<OutputFile> &checked) {
    if (!path)
        return true;
    // Written there, the report's bytes would reach the instrument as if
    // they were requests.
    if (sameFileOrDevice(*path, device)) {
        std::cerr << "No se puede escribir " << what << " en \"" << safeText(*path)
                  << "\": es el dispositivo que se prueba (\"" << safeText(device)
                  << "\"); dé otro archivo. Nada se envió.\n";
        return false;
    }
    auto output = checkOutputFile(*path);
    if (!output) {
        std::cerr << "No se puede escribir " << what << " en \"" << safeText(*path)
                  << "\": " << output.error() << ". Nada se envió.\n";
        return false;
    }
    checked = output.value();
    return true;
}

}  // namespace

std::optional<SendOutputs> checkSendOutputs(const SendOptions &options, const std::string &device) {
    SendOutputs outputs;
    if (!checkOne(options.junit, "el informe JUnit", device, outputs.junit) ||
        !checkOne(options.pcap, "la captura", device, outputs.pcap))
        return std::nullopt;
    return outputs;
}

bool junitOnStdout(const SendOutputs &outputs) {
    return outputs.junit && outputs.junit->ownDescriptor == STDOUT_FILENO;
}

std::optional<std::string> stdoutClash(const SendOptions &options, const SendOutputs &outputs) {
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
    auto opened = CaptureFile::open(file);
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
