#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "core/records/exchange_record.h"
#include "core/result.h"
#include "files/output_file.h"
#include "os/file_descriptor.h"

namespace marvalo {

// A pcapng capture written as the run goes: the header when it opens, then
// every exchange appended the moment it ends, in one write(2), so a run
// killed at any point (kill -9 included) leaves a valid capture of every
// exchange up to its last. A regular file is written beside its place and
// renamed over it once the first exchange that reached the line is in it,
// so a run that sends nothing (the port will not open, the server refuses)
// leaves an earlier capture whole; it is locked against a second writer.
// A stream (a FIFO Wireshark reads live, a terminal) is written to in
// place, never replaced. A write that fails half-way is taken back, so the
// file stays valid.
class CaptureFile {
  public:
    CaptureFile(CaptureFile &&other) noexcept;
    CaptureFile &operator=(CaptureFile &&other) noexcept;
    ~CaptureFile();

    // `output` was checked by checkOutputFile before the run sent a byte.
    // A write a slow reader holds ends once `stopAsked` says so, the
    // capture then incomplete. On failure, why (Spanish).
    static Result<CaptureFile, std::string> open(const OutputFile &output,
                                                 std::function<bool()> stopAsked = {});

    Result<Done, std::string> append(const ExchangeRecord &record);
    // Pushes the file to the disk and closes it. A capture of nothing sent
    // replaces no earlier one.
    Result<Done, std::string> close();

    const std::filesystem::path &path() const { return path_; }

  private:
    CaptureFile(std::filesystem::path path, FileDescriptor fd, bool stream)
        : path_(std::move(path)), fd_(std::move(fd)), stream_(stream) {}
    Result<Done, std::string> write(const std::string &bytes);
    Result<Done, std::string> putInPlace();

    std::filesystem::path path_;
    FileDescriptor fd_;
    std::function<bool()> stopAsked_;
    bool stream_ = false;
    off_t length_ = 0;  // a regular file's valid bytes
    // Until it is renamed into place: the file being written, and the
    // earlier capture's lock.
    std::string pending_;
    FileDescriptor earlier_;
};

}  // namespace marvalo
