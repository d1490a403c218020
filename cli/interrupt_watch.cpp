#include "cli/interrupt_watch.h"

#include <csignal>
#include <cstdlib>
#include <ctime>

#include "cli/summary.h"

namespace kelvaro::cli {
namespace {

sigset_t InterruptSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    return signals;
}

}  // namespace

TInterruptWatch::TInterruptWatch()
{
    const sigset_t signals = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    watcher_ = std::thread([this] { Watch(); });
}

TInterruptWatch::~TInterruptWatch()
{
    quit_ = true;
    watcher_.join();
}

void TInterruptWatch::Watch()
{
    const sigset_t signals = InterruptSignals();
    // Wakes every 100 ms to notice quit_.
    const timespec wait{0, 100'000'000};
    while (!quit_) {
        if (sigtimedwait(&signals, nullptr, &wait) != SIGINT)
            continue;
        if (requested_.exchange(true))
            std::_Exit(kExitInterrupted);  // asked twice: the user wants out now
    }
}

}  // namespace kelvaro::cli
