#pragma once

#include <functional>
#include <streambuf>
#include <string>

namespace marvalo {

// What stderr says when a stop cut our stdout short (then "; …" or ".").
inline constexpr const char *kStdoutCutText =
    "marvalo-send: la salida estándar quedó incompleta: su lector no la leyó a tiempo tras la "
    "señal de parada";

// std::cout through the one write loop (os::writeAll) while this lives: a write
// a signal interrupts is tried again, a stop's writes end once `giveUp`
// says so, and what went wrong is kept as an errno for the message.
class StdoutWriter final : public std::streambuf {
  public:
    explicit StdoutWriter(std::function<bool()> giveUp);
    ~StdoutWriter() override;
    StdoutWriter(const StdoutWriter &) = delete;
    StdoutWriter &operator=(const StdoutWriter &) = delete;

    // 0 while every write went out whole; else the first failure's errno
    // (EPIPE: the reader left; ECANCELED: a stop cut the output short).
    int error() const { return error_; }
    // The reader of a pipe, or the terminal, is gone: known before writing,
    // so no request goes to the line for a reader that cannot see it.
    bool readerGone();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char *text, std::streamsize size) override;
    int sync() override;

  private:
    std::function<bool()> giveUp_;
    std::streambuf *before_ = nullptr;
    std::string pending_;
    int error_ = 0;
};

}  // namespace marvalo
