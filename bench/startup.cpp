// Time from process start until the panel's window has been shown and is
// ready for the operator (what waits for the first paint, Qt's translations
// and the F3 window's set-up, has run), and the resident memory then:
// marvalo --report-shown under the offscreen platform,
// held against Qt's cheapest window that shows text (text_floor, built
// beside it). The two are run by turns, so a machine whose load changes
// during the run weighs on both alike, and the figure that counts is their
// ratio.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/target.h"

namespace {

struct Run {
    double shownMs = 0;  // measured from before fork, so dynamic loading counts
    long residentKb = 0;
};

bool runOnce(const char *program, Run &run) {
    int out[2];
    if (pipe(out) != 0)
        return false;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        freopen("/dev/null", "w", stderr);
        execl(program, program, "--report-shown", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line.push_back(c);
    run.shownMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    long ms = 0;
    return std::sscanf(line.c_str(), "shown after %ld ms, resident %ld kB", &ms, &run.residentKb) ==
           2;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: startup PATH/TO/marvalo\n");
        return 64;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    constexpr int kRuns = 15;
    std::vector<double> times;
    std::vector<double> floorTimes;
    std::vector<double> memory;
    Run warmUp;
    runOnce(argv[1], warmUp);  // the first run pays for a cold page cache
    runOnce(TEXT_FLOOR_PATH, warmUp);
    for (int i = 0; i < kRuns; ++i) {
        Run run;
        Run floor;
        if (!runOnce(argv[1], run) || !runOnce(TEXT_FLOOR_PATH, floor)) {
            std::fprintf(stderr, "run %d: marvalo or the text floor did not report\n", i);
            return 1;
        }
        times.push_back(run.shownMs);
        floorTimes.push_back(floor.shownMs);
        memory.push_back(static_cast<double>(run.residentKb));
    }
    std::printf(
        "startup: %d runs of marvalo --report-shown (offscreen), shown after %.1f to %.1f ms\n",
        kRuns, *std::min_element(times.begin(), times.end()),
        *std::max_element(times.begin(), times.end()));
    using marvalo::bench::Bound;
    using marvalo::bench::figure;
    figure("median: window shown", median(times), "ms", Bound::AtMost, 150);
    std::printf("  %-48s %9.3f ms\n", "median: a text window shown (the floor)",
                median(floorTimes));
    figure("median: window shown / the floor", median(times) / median(floorTimes), "x",
           Bound::AtMost, 1.05);
    figure("median: resident memory", median(memory) / 1024.0, "MB", Bound::AtMost, 50);
    return 0;
}
