#include "files/capture_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "core/records/pcapng.h"
#include "core/text/system_error_text.h"
#include "os/write_all.h"

namespace marvalo {

Result<CaptureFile, std::string> CaptureFile::open(const OutputFile &output) {
    constexpr mode_t kNewFileMode = 0666;  // less the umask, as any new file
    const int flags = output.stream ? O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC
                                    : O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC;
    // A FIFO was opened at the check, while it had a reader.
    FileDescriptor fd(output.held ? ::fcntl(output.held->get(), F_DUPFD_CLOEXEC, 0)
                                  : ::open(output.path.c_str(), flags, kNewFileMode));
    if (fd.valid() && output.held) {
        const int held = ::fcntl(fd.get(), F_GETFL);
        if (held >= 0)
            (void)::fcntl(fd.get(), F_SETFL, held & ~O_NONBLOCK);
    }
    if (!fd.valid())
        return systemErrorText(errno);
    if (!output.stream) {
        // Emptied only once it is ours: another run writing it keeps its capture.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            return std::string("otro programa está escribiendo en ese archivo");
        if (::ftruncate(fd.get(), 0) != 0)
            return systemErrorText(errno);
    }
    CaptureFile file(output.path, std::move(fd), output.stream);
    if (auto written = file.write(pcapngHeader()); !written)
        return written.error();
    return file;
}

Result<Done, std::string> CaptureFile::append(const ExchangeRecord &record) {
    return write(pcapngExchange(record));
}

Result<Done, std::string> CaptureFile::write(const std::string &bytes) {
    if (!fd_.valid())
        return std::string("la captura ya está cerrada");
    if (const auto written = os::writeAll(fd_.get(), bytes.data(), bytes.size());
        written.error != 0) {
        // Half a block would end the capture's validity there.
        if (!stream_ && ::ftruncate(fd_.get(), length_) == 0)
            ::lseek(fd_.get(), length_, SEEK_SET);
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
    return Done{};
}

}  // namespace marvalo
