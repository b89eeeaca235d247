// quorv-bench-startup: time from starting build/quorv to its loading notice on screen.
//
//   quorv-bench-startup EXHIBIT_DIR FEED [RUNS]
// Runs the program RUNS times (default 7) on a private X server with FEED as its camera, and
// measures from the program's start until the notice's window is mapped (polled every 20 ms).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/ExhibitRun.h"

int main(int argc, char** argv) {
    using namespace quorvtest;
    using Clock = std::chrono::steady_clock;
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorv-bench-startup EXHIBIT_DIR FEED [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 7;
    XServer server;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        ExhibitRun quorv(server, argv[1], argv[2], ExhibitRun::Confirm::Later);
        const bool up = !quorv.notice(std::chrono::seconds(20)).empty();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!up) {
            std::fprintf(stderr, "run %d: no notice\n%s", i, quorv.errors().c_str());
            return 1;
        }
        times.push_back(ms);
        std::printf("run %d: %.0f ms\n", i, ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("start to notice: median %.0f ms (min %.0f, max %.0f, %d runs)\n",
                times[times.size() / 2], times.front(), times.back(), runs);
    return 0;
}
