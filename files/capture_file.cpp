#include "files/capture_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "core/records/pcapng.h"
#include "core/text/system_error_text.h"
#include "files/atomic_save.h"
#include "os/write_all.h"

namespace marvalo {

CaptureFile::CaptureFile(CaptureFile &&other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::move(other.fd_)),
      stopAsked_(std::move(other.stopAsked_)),
      stream_(other.stream_),
      length_(other.length_),
      pending_(std::exchange(other.pending_, {})),
      earlier_(std::move(other.earlier_)) {}

CaptureFile &CaptureFile::operator=(CaptureFile &&other) noexcept {
    if (this != &other) {
        if (!pending_.empty())
            ::unlink(pending_.c_str());
        path_ = std::move(other.path_);
        fd_ = std::move(other.fd_);
        stopAsked_ = std::move(other.stopAsked_);
        stream_ = other.stream_;
        length_ = other.length_;
        pending_ = std::exchange(other.pending_, {});
        earlier_ = std::move(other.earlier_);
    }
    return *this;
}

// A capture never put in place is no one's.
CaptureFile::~CaptureFile() {
    if (!pending_.empty())
        ::unlink(pending_.c_str());
}

Result<CaptureFile, std::string> CaptureFile::open(const OutputFile &output,
                                                   std::function<bool()> stopAsked) {
    if (output.stream) {
        // A FIFO was opened at the check, while it had a reader.
        FileDescriptor fd(
            output.held ? ::fcntl(output.held->get(), F_DUPFD_CLOEXEC, 0)
                        : ::open(output.path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC));
        if (!fd.valid())
            return systemErrorText(errno);
        if (output.held) {
            const int held = ::fcntl(fd.get(), F_GETFL);
            if (held >= 0)
                (void)::fcntl(fd.get(), F_SETFL, held & ~O_NONBLOCK);
        }
        CaptureFile file(output.path, std::move(fd), true);
        file.stopAsked_ = std::move(stopAsked);
        if (auto written = file.write(pcapngHeader()); !written)
            return written.error();
        return file;
    }
    // Beside the file (its link's target, so the link stays a link); another
    // run writing the file holds its lock, and keeps its capture.
    const std::filesystem::path target = resolvedFile(output.path);
    FileDescriptor earlier(::open(target.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (earlier.valid() && ::flock(earlier.get(), LOCK_EX | LOCK_NB) != 0)
        return std::string("otro programa está escribiendo en ese archivo");
    std::string pending = target.string() + ".XXXXXX";
    FileDescriptor fd(::mkostemp(pending.data(), O_CLOEXEC));
    if (!fd.valid())
        return systemErrorText(errno);
    constexpr mode_t kNewFileMode = 0644;
    struct stat old {};
    ::fchmod(fd.get(), earlier.valid() && ::fstat(earlier.get(), &old) == 0 ? old.st_mode & 07777
                                                                            : kNewFileMode);
    (void)::flock(fd.get(), LOCK_EX | LOCK_NB);  // ours: no other holds it yet
    CaptureFile file(output.path, std::move(fd), false);
    file.stopAsked_ = std::move(stopAsked);
    file.pending_ = std::move(pending);
    file.earlier_ = std::move(earlier);
    if (auto written = file.write(pcapngHeader()); !written)
        return written.error();
    return file;
}

Result<Done, std::string> CaptureFile::putInPlace() {
    if (pending_.empty())
        return Done{};
    const std::filesystem::path target = resolvedFile(path_);
    if (::rename(pending_.c_str(), target.c_str()) != 0)
        return systemErrorText(errno);
    pending_.clear();
    earlier_.reset();
    return Done{};
}

Result<Done, std::string> CaptureFile::append(const ExchangeRecord &record) {
    if (auto written = write(pcapngExchange(record)); !written)
        return written;
    if (record.verdict || record.lineSawRequest)
        return putInPlace();
    return Done{};
}

Result<Done, std::string> CaptureFile::write(const std::string &bytes) {
    if (!fd_.valid())
        return std::string("la captura ya está cerrada");
    if (const auto written =
            os::writeAll(fd_.get(), bytes.data(), bytes.size(), std::nullopt, stopAsked_);
        written.error != 0 || written.stopped) {
        // Half a block would end the capture's validity there.
        if (!stream_ && ::ftruncate(fd_.get(), length_) == 0)
            ::lseek(fd_.get(), length_, SEEK_SET);
        if (written.stopped)
            return std::string(
                "una señal de parada cortó la escritura, pues su lector no la leía: la captura "
                "quedó incompleta");
        return systemErrorText(written.error);
    }
    length_ += static_cast<off_t>(bytes.size());
    return Done{};
}

Result<Done, std::string> CaptureFile::close() {
    if (!fd_.valid())
        return Done{};
    const bool synced = stream_ || ::fsync(fd_.get()) == 0;
    const int error = errno;
    fd_.reset();
    if (!synced)
        return systemErrorText(error);
    // Nothing reached the line: an earlier capture stays; with none, this
    // one (of the failures) takes its place.
    std::error_code unknown;
    if (!pending_.empty() && std::filesystem::exists(resolvedFile(path_), unknown)) {
        ::unlink(pending_.c_str());
        pending_.clear();
    }
    return putInPlace();
}

}  // namespace marvalo
