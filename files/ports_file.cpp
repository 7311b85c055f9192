#include "files/ports_file.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "core/text/byte_text.h"
#include "core/text/system_error_text.h"
#include "files/atomic_save.h"
#include "files/bounded_read.h"
#include "os/file_descriptor.h"

namespace marvalo {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxPortsBytes = 16 * 1024;  // five short sections and the freed ones
constexpr auto kLockPatience = std::chrono::seconds(5);
constexpr auto kLockRetry = std::chrono::milliseconds(20);

std::string named(const fs::path &file) {
    return "La tabla de puertos \"" + safeText(file.string()) + "\"";
}

// The original bytes, before the first save that drops its damaged lines.
Result<Done, std::string> keepAside(const fs::path &file, const std::string &bytes) {
    fs::path copy = file.string() + ".damaged";
    std::error_code failed;
    if (fs::exists(copy, failed)) {
        char stamp[32];
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        copy = file.string() + ".damaged-" + stamp;
        // Two damaged saves within a second: neither copy is lost. Under
        // the table's lock, so no other writer picks the same name.
        for (int again = 2; fs::exists(copy, failed); ++again)
            copy = file.string() + ".damaged-" + stamp + "-" + std::to_string(again);
    }
    if (auto saved = saveAtomically(copy, bytes); !saved)
        return "no se pudo guardar una copia de la tabla dañada en \"" + safeText(copy.string()) +
               "\": " + saved.error() + "; la tabla queda como estaba";
    return Done{};
}

class TableLock {
  public:
    explicit TableLock(const fs::path &file)
        : fd_(::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY,
                     0644)) {}
    Result<Done, std::string> take(const fs::path &file) {
        if (!fd_.valid())
            return "no se pudo abrir \"" + safeText(file.string()) +
                   ".lock\": " + systemErrorText(errno);
        const auto until = std::chrono::steady_clock::now() + kLockPatience;
        while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return "no se pudo bloquear \"" + safeText(file.string()) +
                       ".lock\": " + systemErrorText(errno);
            if (std::chrono::steady_clock::now() > until)
                return "otro programa lleva más de 5 s guardando la tabla (\"" +
                       safeText(file.string()) + ".lock\")";
            std::this_thread::sleep_for(kLockRetry);
        }
        return Done{};
    }

  private:
    FileDescriptor fd_;  // closing it gives the lock back
};

struct ReadTable {
    LoadedPortsTable loaded;
    std::string bytes;
};

ReadTable readTable(const fs::path &file) {
    ReadTable read;
    LoadedPortsTable &loaded = read.loaded;
    auto content = readBoundedFile(file, kMaxPortsBytes);
    if (!content) {
        if (content.error().kind != ReadProblem::Kind::Missing) {
            loaded.usable = false;
            loaded.problem = named(file) + " " + content.error().reason +
                             ". Ningún número COM vale hasta que se arregle (MARVALO_COMn sí), y "
                             "no se guarda nada encima de ella.";
        }
        return read;
    }
    read.bytes = content.value();
    loaded.table = parsePortsTable(read.bytes);
    if (!loaded.table.damage.empty() || !loaded.table.doubts.empty()) {
        std::string lines;
        for (const std::string &line : loaded.table.damage)
            lines += (lines.empty() ? "" : "; ") + line;
        for (const auto &[number, why] : loaded.table.doubts)
            lines += (lines.empty() ? "" : "; ") + why;
        loaded.problem = named(file) + " tiene líneas que no se entienden (" + lines +
                         "). Los demás números siguen valiendo; los dañados no se usan y no "
                         "se numera ningún adaptador nuevo hasta que se asigne un número.";
        if (!loaded.table.damage.empty())
            *loaded.problem += " Al guardar el primer cambio, el original queda en \"" +
                               safeText(file.string()) + ".damaged\".";
    }
    return read;
}

}  // namespace

LoadedPortsTable loadPortsTable(const fs::path &file) {
    return readTable(file).loaded;
}

Result<PortsTable, std::string> changePortsTable(const fs::path &file, const PortsChange &change) {
    const std::string cannot = "No se pudo cambiar la tabla de puertos: ";
    std::error_code ignored;  // a folder that cannot be made is named by the lock
    fs::create_directories(file.parent_path(), ignored);
    TableLock lock(file);
    if (auto taken = lock.take(file); !taken)
        return cannot + taken.error() + ".";
    ReadTable read = readTable(file);
    if (!read.loaded.usable)
        return *read.loaded.problem;
    PortsTable table = read.loaded.table;
    auto changed = change(table);
    if (!changed)
        return cannot + changed.error() + ".";
    if (!changed.value())
        return table;
    if (!read.loaded.table.damage.empty()) {
        if (auto kept = keepAside(file, read.bytes); !kept)
            return cannot + kept.error() + ".";
        settleDoubts(table);
    }
    // The oldest freed adapters go first: what would not read back whole
    // would leave every number unusable.
    std::string text = formatPortsTable(table);
    while (text.size() > kMaxPortsBytes && !table.released.empty()) {
        table.released.erase(table.released.begin());
        text = formatPortsTable(table);
    }
    if (text.size() > kMaxPortsBytes)
        return cannot + "con este cambio la tabla ocuparía " + std::to_string(text.size()) +
               " bytes, más de los " + std::to_string(kMaxPortsBytes) +
               " que se leen; la tabla queda como estaba.";
    if (auto saved = saveAtomically(file, text); !saved)
        return "No se pudo guardar la tabla de puertos en \"" + safeText(file.string()) +
               "\": " + saved.error() + ". La anterior queda como estaba.";
    return table;
}

}  // namespace marvalo
