#include "files/ports_file.h"

#include "core/text/byte_text.h"
#include "files/atomic_save.h"
#include "files/bounded_read.h"

namespace marvalo {
namespace {

constexpr std::size_t kMaxPortsBytes = 16 * 1024;  // five short sections

}  // namespace

LoadedPortsTable loadPortsTable(const std::filesystem::path &file) {
    const std::string named = "La tabla de puertos \"" + safeText(file.string()) + "\"";
    const std::string rebuilt = " Se empieza una tabla nueva con los adaptadores conectados.";
    LoadedPortsTable loaded;
    auto content = readBoundedFile(file, kMaxPortsBytes);
    if (!content) {
        if (content.error().kind != ReadProblem::Kind::Missing)
            loaded.problem = named + " " + content.error().reason + "." + rebuilt;
        return loaded;
    }
    auto parsed = parsePortsTable(content.value());
    if (!parsed) {
        loaded.problem = named + " no se pudo usar: " + safeText(parsed.error()) + "." + rebuilt;
        return loaded;
    }
    loaded.table = parsed.value();
    return loaded;
}

Result<Done, std::string> savePortsTable(const std::filesystem::path &file,
                                         const PortsTable &table) {
    auto saved = saveAtomically(file, formatPortsTable(table));
    if (!saved) {
        return "No se pudo guardar la tabla de puertos en \"" + safeText(file.string()) +
               "\": " + saved.error() + ". La anterior queda como estaba.";
    }
    return Done{};
}

}  // namespace marvalo
