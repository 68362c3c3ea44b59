#include "platform/StopSignal.h"

#include <atomic>
#include <csignal>

#include <signal.h>

namespace {

std::atomic<int> stopCount{0};
struct sigaction previousInterrupt;
struct sigaction previousTerminate;

void onStop(int signal)
{
    if (stopCount.fetch_add(1) > 0) {
        // Asked twice: the program is not stopping soon enough for the user.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
    }
}

} // namespace

StopSignal::StopSignal()
{
    stopCount = 0;
    struct sigaction action = {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInterrupt);
    ::sigaction(SIGTERM, &action, &previousTerminate);
}

StopSignal::~StopSignal()
{
    ::sigaction(SIGINT, &previousInterrupt, nullptr);
    ::sigaction(SIGTERM, &previousTerminate, nullptr);
}

bool StopSignal::requested() const
{
    return stopCount.load() > 0;
}

void StopSignal::request()
{
    stopCount.fetch_add(1);
}
