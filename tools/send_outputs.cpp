#include "tools/send_outputs.h"

#include <iostream>

#include "core/records/pcapng.h"
#include "core/text/byte_text.h"

namespace marvalo {
namespace {

bool checkOne(const std::optional<std::string> &path, const char *what,
              std::optional<OutputFile> &checked) {
    if (!path)
        return true;
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

std::optional<SendOutputs> checkSendOutputs(const SendOptions &options) {
    SendOutputs outputs;
    if (!checkOne(options.junit, "el informe JUnit", outputs.junit) ||
        !checkOne(options.pcap, "la captura", outputs.pcap))
        return std::nullopt;
    return outputs;
}

bool writeCapture(const OutputFile &file, const std::vector<ExchangeRecord> &records) {
    std::vector<const ExchangeRecord *> pointers;
    for (const ExchangeRecord &record : records)
        pointers.push_back(&record);
    if (auto saved = writeOutputFile(file, pcapngCapture(pointers)); !saved) {
        std::cerr << "No se pudo guardar la captura \"" << safeText(file.path.string())
                  << "\": " << saved.error() << "\n";
        return false;
    }
    return true;
}

}  // namespace marvalo
