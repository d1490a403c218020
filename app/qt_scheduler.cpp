#include "app/qt_scheduler.h"

#include <QMetaObject>
#include <QTimer>

namespace kelvaro::app {

TQtMainThreadScheduler::TQtMainThreadScheduler(QObject* parent) : QObject(parent) {}

void TQtMainThreadScheduler::RunLater(std::chrono::milliseconds delay, std::function<void()> task)
{
    // A timer belongs to the thread that starts it, so the start itself is queued over to
    // ours; the queueing also keeps the task from running before RunLater has returned.
    QMetaObject::invokeMethod(
        this,
        [this, delay, task = std::move(task)]() mutable {
            QTimer::singleShot(delay, this, std::move(task));
        },
        Qt::QueuedConnection);
}

}  // namespace kelvaro::app
