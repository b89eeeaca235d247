// quorv-bench-startup: time from starting build/quorv to its loading notice on screen.
//
//   quorv-bench-startup EXHIBIT_DIR FEED [RUNS]
// Runs the program RUNS times (default 7) on a private X server with FEED as its camera, and
// measures from the program's start until the notice's window is mapped (polled every 5 ms).
#include "support/Desktop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
        Process::Options options;
        options.program = buildDir() + "/quorv";
        options.workingDirectory = argv[1];
        options.environment = {{"DISPLAY", server.display()},
                               {"QUORV_VIDEO", argv[2]},
                               {"OSG_WINDOW", "0 0 640 480"}};
        const auto start = Clock::now();
        Process quorv(options);
        const unsigned long notice =
            findWindow(server.display(), "Cargando Quorv", std::chrono::seconds(20));
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        quorv.kill();
        if (!notice) {
            std::fprintf(stderr, "run %d: no notice\n%s", i, quorv.standardError().c_str());
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
