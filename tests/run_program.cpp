#include "tests/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace marvalo::testing {
namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string> &argv, const RunControl &control) {
    char outPath[] = "/tmp/marvalo-out-XXXXXX";
    char errPath[] = "/tmp/marvalo-err-XXXXXX";
    int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    int pipeEnds[2] = {-1, -1};
    if ((control.closeOutputAfterFirstLine || control.outputNeverRead) && pipe(pipeEnds) == 0) {
        close(outFd);
        outFd = pipeEnds[1];
    }
    ProgramRun run;
    const pid_t child = fork();
    if (child == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (pipeEnds[0] >= 0)
            close(pipeEnds[0]);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outFd);
    if (pipeEnds[0] >= 0 && control.closeOutputAfterFirstLine) {
        char c = 0;
        while (read(pipeEnds[0], &c, 1) == 1) {
            run.out.push_back(c);
            if (c == '\n')
                break;
        }
        close(pipeEnds[0]);  // the reader is gone, as head is after one line
    }
    std::chrono::steady_clock::time_point signalled;
    if (control.signalAfterMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(*control.signalAfterMs));
        signalled = std::chrono::steady_clock::now();
        kill(child, control.signal);
        for (const auto &[afterMs, signal] : control.thenSignals) {
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            signalled = std::chrono::steady_clock::now();
            kill(child, signal);
        }
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    if (control.signalAfterMs) {
        run.msFromSignalToExit =
            static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - signalled)
                                  .count());
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.maxResidentKb = usage.ru_maxrss;
    if (control.outputNeverRead)
        close(pipeEnds[0]);
    close(errFd);
    if (!control.closeOutputAfterFirstLine)
        run.out = slurp(outPath);  // empty when it never went there
    run.err = slurp(errPath);
    unlink(outPath);
    unlink(errPath);
    return run;
}

}  // namespace marvalo::testing
