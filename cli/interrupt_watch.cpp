#include "cli/interrupt_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace kelvaro::cli {
namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

}  // namespace

TInterruptWatch::TInterruptWatch()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signalDescriptor_ = signalfd(-1, &signals, SFD_CLOEXEC);
    wakeDescriptor_ = eventfd(0, EFD_CLOEXEC);
    if (signalDescriptor_ < 0 || wakeDescriptor_ < 0)
        throw std::runtime_error("cannot watch for interrupts");
    watcher_ = std::thread([this] { Watch(); });
}

TInterruptWatch::~TInterruptWatch()
{
    const uint64_t one = 1;
    if (write(wakeDescriptor_, &one, sizeof one) < 0) {
        // The watcher cannot be woken; it ends with the process.
        watcher_.detach();
    } else {
        watcher_.join();
    }
    close(signalDescriptor_);
    close(wakeDescriptor_);
}

void TInterruptWatch::Watch()
{
    pollfd descriptors[2] = {{signalDescriptor_, POLLIN, 0}, {wakeDescriptor_, POLLIN, 0}};
    for (;;) {
        if (poll(descriptors, 2, -1) < 0)
            continue;
        if (descriptors[1].revents)
            return;
        signalfd_siginfo info{};
        if (read(signalDescriptor_, &info, sizeof info) != sizeof info)
            continue;
        const int signal = static_cast<int>(info.ssi_signo);
        int none = 0;
        if (!signal_.compare_exchange_strong(none, signal))
            std::_Exit(128 + signal);  // asked twice: the user wants out now
    }
}

}  // namespace kelvaro::cli
