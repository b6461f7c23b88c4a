#include "gui/app/BusJobs.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace mvx::gui {

BusJobs::Ticket::Ticket(BusJobs& jobs, QObject* context, Busy busy)
    : jobs_(jobs), context_(context), busy_(busy == RaiseBusy) {
    ++jobs_.inFlight_;
    if (busy_) {
        ++jobs_.busBusy_;
    }
}

BusJobs::Ticket::~Ticket() {
    if (busy_) {
        --jobs_.busBusy_;
    }
    --jobs_.inFlight_;
}

BusJobs::BusJobs(BusExecutor& executor, std::atomic<int>& busBusy)
    : executor_(executor), busBusy_(busBusy) {}

BusJobs::~BusJobs() {
    // Completions still queued go now, while what their tickets count is still here.
    QCoreApplication::removePostedEvents(this);
}

void BusJobs::deliver(std::function<void()> completion) {
    QMetaObject::invokeMethod(
        this,
        [this, completion = std::move(completion)]() mutable {
            ++delivering_;
            completion();
            --delivering_;
            completion = nullptr;  // the ticket goes: the job is no longer in flight
            if (inFlight_.load() == 0) {
                emit idle();
            }
        },
        Qt::QueuedConnection);
}

void BusJobs::post(QPointer<QObject> context, std::function<void()> completion) {
    QMetaObject::invokeMethod(
        this,
        [context = std::move(context), completion = std::move(completion)] {
            if (!context.isNull()) {
                completion();
            }
        },
        Qt::QueuedConnection);
}

void BusJobs::waitUntilIdle() {
    if (inFlight_.load() == 0) {
        return;
    }
    QEventLoop loop;
    connect(this, &BusJobs::idle, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace mvx::gui
