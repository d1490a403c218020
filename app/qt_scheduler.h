#pragma once
// The component's main-thread scheduler over the Qt event loop: each task runs from a
// single-shot timer on the thread that owns the scheduler.

#include <QObject>

#include "converter/main_thread_scheduler.h"

namespace kelvaro::app {

class TQtMainThreadScheduler final : public QObject, public TMainThreadScheduler {
    Q_OBJECT
public:
    explicit TQtMainThreadScheduler(QObject* parent = nullptr);

    // Any thread. Tasks still waiting when the scheduler goes are dropped.
    void RunLater(std::chrono::milliseconds delay, std::function<void()> task) override;
};

}  // namespace kelvaro::app
