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
    std::deque<Delivery> left;
    {
        std::lock_guard lock(deliveriesMutex_);
        left.swap(deliveries_);
    }
}

void BusJobs::deliver(std::function<void()> completion) {
    enqueue({std::move(completion), true});
}

void BusJobs::post(QPointer<QObject> context, std::function<void()> completion) {
    enqueue({[context = std::move(context), completion = std::move(completion)] {
                 if (!context.isNull()) {
                     completion();
                 }
             },
             false});
}

void BusJobs::enqueue(Delivery delivery) {
    {
        std::lock_guard lock(deliveriesMutex_);
        deliveries_.push_back(std::move(delivery));
    }
    // One queued call per delivery, each running the oldest: they run in the order given, each
    // in an event of its own as before (a completion may run a modal dialog, inside which the
    // next ones run).
    QMetaObject::invokeMethod(this, "runNextDelivery", Qt::QueuedConnection);
}

void BusJobs::runNextDelivery() {
    Delivery delivery;
    {
        std::lock_guard lock(deliveriesMutex_);
        if (deliveries_.empty()) {
            return;
        }
        delivery = std::move(deliveries_.front());
        deliveries_.pop_front();
    }
    if (!delivery.counted) {
        delivery.run();
        return;
    }
    ++delivering_;
    delivery.run();
    --delivering_;
    delivery.run = nullptr;  // the ticket goes: the job is no longer in flight
    if (inFlight_.load() == 0) {
        emit idle();
    }
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
