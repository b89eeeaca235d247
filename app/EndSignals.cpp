#include "EndSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <initializer_list>

namespace quorv::app {
namespace {

std::atomic<int> arrived{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free data");
int pipeEnds[2] = {-1, -1};

void noteSignal(int number) {
    // Async-signal-safe only: an atomic store and a write(2).
    int none = 0;
    arrived.compare_exchange_strong(none, number);
    const int saved = errno;
    const char byte = 1;
    if (pipeEnds[1] >= 0 && ::write(pipeEnds[1], &byte, 1) < 0) {
        // A full pipe already says that a signal came.
    }
    errno = saved;
}

}  // namespace

void catchEndSignals() {
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        pipeEnds[0] = pipeEnds[1] = -1;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
}

bool endRequested() { return arrived.load() != 0; }

int endSignal() { return arrived.load(); }

int endSignalDescriptor() { return pipeEnds[0]; }

}  // namespace quorv::app
