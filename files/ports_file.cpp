#include "files/ports_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "core/text/byte_text.h"
#include "core/text/system_error_text.h"
#include "files/atomic_save.h"
#include "files/bounded_read.h"
#include "files/file_places.h"
#include "os/file_descriptor.h"

namespace marvalo {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxPortsBytes = 16 * 1024;  // five short sections and the freed ones
// Saves take milliseconds: a lock held longer is a program that hangs, and
// waiting for it would freeze the panel at every exchange.
constexpr auto kLockPatience = std::chrono::seconds(1);
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

std::string programOf(const std::string &pid) {
    std::string program;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), program);
    return "proceso " + pid + (program.empty() ? "" : " (" + safeText(program) + ")");
}

// Who holds the flock on this descriptor's file: "proceso 1234 (marvalo)",
// or empty when the kernel does not say. /proc/locks names the process that
// took the lock, which may have exited and left it to a child that
// inherited the descriptor; so the holders are the live processes that have
// the lock file open, as fuser finds them, the taker first when among them.
std::string lockHolder(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    std::string taker;
    std::ifstream locks("/proc/locks");
    for (std::string line; taker.empty() && std::getline(locks, line);) {
        std::istringstream words(line);
        std::string number, kind, mode, access, pid, file;
        words >> number >> kind;
        if (kind == "->")  // a waiter, not the holder
            continue;
        words >> mode >> access >> pid >> file;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (kind == "FLOCK" &&
            std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            inode == info.st_ino && major == ::major(info.st_dev) &&
            minor == ::minor(info.st_dev) && pid != std::to_string(::getpid()))
            taker = pid;
    }
    if (taker.empty())
        return {};
    std::vector<std::string> openers;
    std::error_code failed;
    for (const auto &process : fs::directory_iterator("/proc", failed)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || !std::ranges::all_of(pid, ::isdigit) ||
            pid == std::to_string(::getpid()))
            continue;
        std::error_code denied;
        for (const auto &held : fs::directory_iterator(process.path() / "fd", denied)) {
            struct stat same {};
            if (::stat(held.path().c_str(), &same) == 0 && same.st_ino == info.st_ino &&
                same.st_dev == info.st_dev) {
                openers.insert(pid == taker ? openers.begin() : openers.end(), pid);
                break;
            }
        }
    }
    if (!openers.empty() && openers.front() == taker)
        return programOf(taker);
    std::string names;
    for (const std::string &pid : openers)
        names += (names.empty() ? "" : " o ") + programOf(pid);
    return (names.empty() ? std::string("un proceso que no se deja ver") : names) +
           ", que heredó el cerrojo del proceso " + taker + " (que ya no lo tiene),";
}

// The lock beside the file the table's name leads to, so that two links to
// one table take one lock; never through a link itself.
class TableLock {
  public:
    explicit TableLock(const fs::path &file)
        : path_(resolvedFile(file).string() + ".lock"),
          fd_(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0644)) {}
    Result<Done, std::string> take() {
        if (!fd_.valid())
            return "no se pudo abrir \"" + safeText(path_) + "\": " +
                   (errno == ELOOP ? std::string("es un enlace, y el cerrojo nunca se sigue")
                                   : spanishErrorText(errno));
        const auto until = std::chrono::steady_clock::now() + kLockPatience;
        while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return "no se pudo bloquear \"" + safeText(path_) +
                       "\": " + spanishErrorText(errno);
            if (std::chrono::steady_clock::now() > until) {
                const std::string holder = lockHolder(fd_.get());
                return (holder.empty() ? std::string("otro programa") : holder) +
                       " tiene tomada la tabla desde hace más de 1 s (\"" + safeText(path_) +
                       "\"); si está colgado, ciérrelo";
            }
            std::this_thread::sleep_for(kLockRetry);
        }
        return Done{};
    }

  private:
    std::string path_;
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
    std::error_code failed;
    if (!content && content.error().kind == ReadProblem::Kind::Missing &&
        fs::is_symlink(file, failed)) {
        // An unmounted share or a moved file: another table in its place
        // would number the adapters anew and send to another one.
        loaded.usable = false;
        loaded.problem = named(file) + " es un enlace a \"" +
                         safeText(fs::read_symlink(file, failed).string()) +
                         "\", que no existe (¿una unidad sin montar?). Ningún número COM vale "
                         "hasta que el enlace lleve a la tabla o se quite (MARVALO_COMn sí), y no "
                         "se usa otra tabla en su lugar.";
        return read;
    }
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

fs::path PortsTablePlace::inUse() const {
    std::error_code failed;
    // A link beside the program that leads nowhere is never passed over.
    const bool besideDangles = fs::is_symlink(beside, failed) && !fs::exists(beside, failed);
    return !besideDangles && fs::symlink_status(own, failed).type() != fs::file_type::not_found
               ? own
               : beside;
}

PortsTablePlace portsTablePlace(const fs::path &programFolder) {
    std::error_code failed;
    for (const fs::path &top : {programFolder, programFolder.parent_path()}) {
        if (!top.empty() && fs::exists(top / "CMakeCache.txt", failed))
            return {top / kPortsFileName, top / kPortsFileName};
    }
    const FilePlace place = chooseFilePlace(programFolder, kPortsFileName);
    return {programFolder / kPortsFileName, place.saveFolder / kPortsFileName};
}

LoadedPortsTable loadPortsTable(const fs::path &file) {
    return readTable(file).loaded;
}

Result<PortsTable, std::string> changePortsTable(const PortsTablePlace &place,
                                                 const PortsChange &change) {
    const fs::path &file = place.own;
    const std::string cannot = "No se pudo cambiar la tabla de puertos: ";
    if (std::error_code made; !fs::create_directories(file.parent_path(), made) && made)
        return cannot + "no se pudo crear la carpeta \"" + safeText(file.parent_path().string()) +
               "\": " + spanishErrorText(made.value()) + ".";
    TableLock lock(file);
    if (auto taken = lock.take(); !taken)
        return cannot + taken.error() + ".";
    // Under the lock: another program may have saved the per-user copy.
    ReadTable read = readTable(place.inUse());
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
    // Saving writes a new file in the old one's place: a second hard link
    // would go on naming the old table, and the two programs would part.
    if (struct stat info{}; ::stat(file.c_str(), &info) == 0 && info.st_nlink > 1)
        return cannot + "\"" + safeText(resolvedFile(file).string()) + "\" tiene " +
               std::to_string(info.st_nlink) +
               " enlaces duros, y guardarla los separaría; deje uno solo (o use un enlace "
               "simbólico) y vuelva a intentarlo. La tabla queda como estaba.";
    if (auto saved = saveAtomically(file, text); !saved)
        return "No se pudo guardar la tabla de puertos en \"" + safeText(file.string()) +
               "\": " + saved.error() + ". La anterior queda como estaba.";
    return table;
}

}  // namespace marvalo
