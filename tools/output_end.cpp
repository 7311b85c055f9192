#include "tools/output_end.h"

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "core/text/system_error_text.h"

namespace marvalo {

int endOfOutput(std::string_view program, int status, int lostStatus) {
    errno = 0;
    std::cout.flush();  // std::cout goes through stdio: its error is stdout's
    const bool whole = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
    const int lost = errno;
    if (whole || lost == EPIPE)
        return status;
    std::cerr << program << ": la salida estándar no admite más"
              << (lost == 0 ? std::string() : " (" + systemErrorText(lost) + ")")
              << ": lo que quedaba por escribir se perdió.\n";
    return lostStatus;
}

}  // namespace marvalo
