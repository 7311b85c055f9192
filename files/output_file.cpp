#include "files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "core/text/system_error_text.h"
#include "files/atomic_save.h"
#include "os/file_descriptor.h"
#include "os/write_all.h"

namespace marvalo {
namespace {

bool sameFile(const struct stat &a, int fd) {
    struct stat b {};
    return ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file can be made there: the folder exists, is a folder, and takes a
// new file (made and removed at once).
std::optional<std::string> folderProblem(std::filesystem::path folder) {
    if (folder.empty())
        folder = ".";
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return "su carpeta: " + systemErrorText(errno);
    if (!S_ISDIR(info.st_mode))
        return "lo que debería ser su carpeta no es una carpeta";
    const std::string probe = (folder / ".marvalo-probe-XXXXXX").string();
    std::string name = probe;
    FileDescriptor made(::mkstemp(name.data()));
    // The folder is there (stat said so): ENOENT here is a file system that
    // makes no files, such as /proc.
    if (!made.valid() && errno == ENOENT)
        return std::string(
            "no se pueden crear archivos en su carpeta: ese sistema de archivos "
            "no los admite");
    if (!made.valid())
        return "no se pueden crear archivos en su carpeta (" + systemErrorText(errno) + ")";
    ::unlink(name.c_str());
    return std::nullopt;
}

Result<Done, std::string> writeAll(int fd, std::string_view content,
                                   const std::function<bool()> &stopAsked) {
    const auto written = os::writeAll(fd, content.data(), content.size(), std::nullopt, stopAsked);
    if (written.stopped)
        return std::string(kStopCutText);
    if (written.error != 0)
        return systemErrorText(written.error);
    return Done{};
}

// Every terminal driver the kernel has (/proc/tty/drivers: name, node,
// major, minors), so a terminal is known without opening it: opening a
// serial line raises its modem lines.
bool isTerminal(dev_t device) {
    std::ifstream drivers("/proc/tty/drivers");
    for (std::string line; std::getline(drivers, line);) {
        std::istringstream fields(line);
        std::string name, node, minors;
        unsigned major = 0;
        if (!(fields >> name >> node >> major >> minors) || major != ::major(device))
            continue;
        unsigned long low = 0;
        unsigned long high = 0;
        const int read = std::sscanf(minors.c_str(), "%lu-%lu", &low, &high);
        if (read == 1)
            high = low;
        if (read >= 1 && ::minor(device) >= low && ::minor(device) <= high)
            return true;
    }
    return false;
}

// The terminals that are ours to write to: /dev/tty, our controlling
// terminal (field 7 of /proc/self/stat) and the terminals of our stdout
// and stderr. Any other is another line, or someone else's screen.
bool ownTerminal(dev_t device) {
    if (device == ::makedev(5, 0))
        return true;
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(std::min(text.rfind(')') + 1, text.size())));
    std::string state;
    long pid = 0, group = 0, session = 0, terminal = 0;
    if (fields >> state >> pid >> group >> session >> terminal && terminal != 0 &&
        static_cast<dev_t>(::makedev((terminal >> 8) & 0xfff,
                                     (terminal & 0xff) | ((terminal >> 12) & 0xfff00))) == device)
        return true;
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device)
            return true;
    }
    return false;
}

Result<Done, std::string> writeHeld(int fd, std::string_view content,
                                    const std::function<bool()> &stopAsked) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return writeAll(fd, content, stopAsked);
}

Result<Done, std::string> writeStream(const std::filesystem::path &path, std::string_view content,
                                      const std::function<bool()> &stopAsked) {
    // O_NONBLOCK opens a FIFO only while it has a reader (checked before
    // the run); the writes themselves then wait as usual.
    FileDescriptor fd(
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd.valid() && ::stat(path.c_str(), &info) != 0)
        info.st_mode = 0;
    if (!fd.valid())
        return errno == ENXIO && S_ISFIFO(info.st_mode) ? std::string("la tubería no tiene lector")
               : errno == ENXIO ? std::string("este programa no tiene terminal de control")
                                : systemErrorText(errno);
    return writeHeld(fd.get(), content, stopAsked);
}

// Our own stdout or stderr under any name: /dev/stdout, /dev/fd/1,
// /proc/self/fd/1 or the file fd 1 was redirected into.
int ownDescriptorOf(const struct stat &info) {
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (sameFile(info, fd))
            return fd;
    }
    return -1;
}

}  // namespace

Result<OutputFile, std::string> checkOutputFile(const std::filesystem::path &path) {
    if (path.empty())
        return std::string("no es un nombre de archivo");
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return systemErrorText(errno);
        const std::filesystem::path folder =
            path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
        if (auto problem = folderProblem(folder))
            return *problem;
        return OutputFile{path, false, -1, nullptr};
    }
    if (S_ISDIR(info.st_mode))
        return std::string("es una carpeta, no un archivo");
    // A character device takes every writer at once, at no offset: only
    // a file or a pipe behind our own descriptor must be written through it.
    const int own = S_ISCHR(info.st_mode) ? -1 : ownDescriptorOf(info);
    if (own >= 0)
        return OutputFile{path, true, own, nullptr};
    if (S_ISFIFO(info.st_mode)) {
        // A FIFO with no reader would hold the run's end for ever: opened
        // without waiting, it says so now. Our descriptor stays open until
        // the report is written, so the reader's stream does not end early.
        FileDescriptor probe(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (!probe.valid())
            return errno == ENXIO ? std::string("es una tubería sin lector")
                                  : systemErrorText(errno);
        return OutputFile{path, true, -1, std::make_shared<FileDescriptor>(std::move(probe))};
    }
    if (S_ISCHR(info.st_mode)) {
        const bool terminal = isTerminal(info.st_rdev);
        if (terminal && !ownTerminal(info.st_rdev))
            return std::string(
                "es un terminal que no es el de este programa (otra línea serie u otra "
                "consola): lo escrito llegaría a lo que tenga conectado; dé un archivo");
        // Any other device (/dev/full, /dev/random, /dev/mem, /dev/kmsg)
        // loses the output, holds it or writes it where it does harm.
        if (!terminal && info.st_rdev != ::makedev(1, 3))
            return std::string(
                "es un dispositivo que no es un terminal de este programa ni /dev/null: dé un "
                "archivo");
        // Opened now as the write will open it: /dev/tty with no
        // controlling terminal says so before the run, not after it.
        FileDescriptor probe(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!probe.valid())
            return errno == ENXIO ? std::string("este programa no tiene terminal de control")
                                  : systemErrorText(errno);
        return OutputFile{path, true, -1, nullptr};
    }
    if (!S_ISREG(info.st_mode))
        return std::string("no es un archivo normal, un dispositivo de caracteres ni una tubería");
    if (struct stat self{}; ::stat("/proc/self/exe", &self) == 0 && self.st_dev == info.st_dev &&
                            self.st_ino == info.st_ino)
        return std::string("es el propio programa");
    if (::access(path.c_str(), W_OK) != 0)
        return systemErrorText(errno);
    if (auto problem = folderProblem(resolvedFile(path).parent_path()))
        return *problem;
    return OutputFile{path, false, -1, nullptr};
}

Result<Done, std::string> writeOutputFile(const OutputFile &output, std::string_view content,
                                          const std::function<bool()> &stopAsked) {
    if (output.ownDescriptor >= 0)
        return writeAll(output.ownDescriptor, content, stopAsked);
    if (output.held)
        return writeHeld(output.held->get(), content, stopAsked);
    if (output.stream)
        return writeStream(output.path, content, stopAsked);
    return saveAtomically(output.path, content);
}

bool sameFileOrDevice(const std::filesystem::path &a, const std::filesystem::path &b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0)
        return false;
    if (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode))
        return first.st_rdev == second.st_rdev;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace marvalo
