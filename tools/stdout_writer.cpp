#include "tools/stdout_writer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "os/write_all.h"

namespace marvalo {
namespace {

constexpr std::size_t kHeldBytes = 64 * 1024;

}  // namespace

StdoutWriter::StdoutWriter(std::function<bool()> giveUp) : giveUp_(std::move(giveUp)) {
    std::cout.flush();
    before_ = std::cout.rdbuf(this);
}

StdoutWriter::~StdoutWriter() {
    sync();
    std::cout.rdbuf(before_);
}

bool StdoutWriter::readerGone() {
    struct pollfd out {
        STDOUT_FILENO, POLLOUT, 0
    };
    if (::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)) != 0 && error_ == 0)
        error_ = EPIPE;
    return error_ == EPIPE;
}

StdoutWriter::int_type StdoutWriter::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
    const char one = traits_type::to_char_type(c);
    return xsputn(&one, 1) == 1 ? c : traits_type::eof();
}

std::streamsize StdoutWriter::xsputn(const char *text, std::streamsize size) {
    if (error_ != 0)
        return 0;
    pending_.append(text, static_cast<std::size_t>(size));
    if (pending_.size() >= kHeldBytes && sync() != 0)
        return 0;
    return size;
}

int StdoutWriter::sync() {
    if (error_ == 0 && !pending_.empty()) {
        const auto written =
            os::writeAll(STDOUT_FILENO, pending_.data(), pending_.size(), std::nullopt, giveUp_);
        error_ = written.stopped ? ECANCELED : written.error;
    }
    pending_.clear();
    return error_ == 0 ? 0 : -1;
}

}  // namespace marvalo
