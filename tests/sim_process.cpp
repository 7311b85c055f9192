#include "tests/sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace marvalo::testing {

SimProcess::SimProcess(const std::vector<std::string> &options, bool keepLog) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<std::string> argv{MARVALO_SIM_PATH};
        argv.insert(argv.end(), options.begin(), options.end());
        std::vector<char *> args;
        for (auto &arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') {
        devicePath_.push_back(c);
    }
    if (keepLog) {
        logFd_ = out[0];
        ::fcntl(logFd_, F_SETFL, O_NONBLOCK);
    } else {
        ::close(out[0]);  // later output (--log) is not wanted here
    }
    if (devicePath_.empty()) {
        throw std::runtime_error("marvalo-sim did not start");
    }
}

std::string SimProcess::log() {
    char chunk[4096];
    ssize_t got;
    while (logFd_ >= 0 && (got = ::read(logFd_, chunk, sizeof chunk)) > 0)
        log_.append(chunk, static_cast<std::size_t>(got));
    return log_;
}

SimProcess::~SimProcess() {
    if (logFd_ >= 0)
        ::close(logFd_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

}  // namespace marvalo::testing
