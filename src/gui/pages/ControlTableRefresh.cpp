#include "gui/pages/ControlTableRefresh.h"

#include <atomic>

#include "device/DeviceRegistry.h"
#include "gui/app/BusJobs.h"
#include "gui/app/ManagerApp.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx::gui {

namespace {

constexpr int kIdentityEnd = 3;  // model number and firmware version never change by themselves

}  // namespace

std::vector<RegisterItem> volatileItems(int modelNumber) {
    std::vector<RegisterItem> items;
    for (const RegisterItem& item : registerItems(modelNumber)) {
        if (item.access == RegisterAccess::ReadOnly && item.address >= kIdentityEnd) {
            items.push_back(item);
        }
    }
    return items;
}

// Runs on the executor's thread; stop() comes from the GUI thread.
class ControlTableRefresh::Source final : public BusExecutor::PeriodicSource {
public:
    Source(ManagerApp& app, int code, int id,
           std::vector<std::pair<std::uint8_t, std::uint8_t>> blocks, std::int64_t periodUs,
           QObject* receiver, Delivered delivered)
        : registry_(app.registry()),
          clock_(app.clock()),
          jobs_(app.jobs()),
          code_(code),
          id_(id),
          blocks_(std::move(blocks)),
          periodUs_(periodUs),
          receiver_(receiver),
          delivered_(std::move(delivered)),
          dueUs_(app.clock().nowUs()) {}

    void stop() { *stopped_ = true; }

    std::int64_t nextDueUs() override { return dueUs_; }

    bool runDue(bool yielded) override {
        if (stopped_->load()) {
            return false;
        }
        const std::int64_t started = clock_.nowUs();
        dueUs_ = (periodUs_ > 0 ? dueUs_ + periodUs_ : started);
        if (dueUs_ < started) {
            dueUs_ = started;  // late: the next one is due now, not a burst of them
        }
        if (yielded) {
            return true;
        }
        RefreshRead read;
        DeviceEntry* entry = registry_.find(code_, id_);
        std::shared_ptr<AdapterLink> link;
        if (entry == nullptr) {
            read.registered = false;
            read.result = Timeout;
        } else {
            read.result = entry->tuneLink(link);
        }
        for (const auto& [first, length] : blocks_) {
            if (read.result != Success) {
                break;
            }
            read.result = readBlock(*link, static_cast<std::uint8_t>(id_), first, length,
                                    read.table.data() + first);
        }
        if (stopped_->load()) {
            return false;
        }
        jobs_.post(receiver_, [stopped = stopped_, delivered = delivered_, read] {
            if (!stopped->load()) {
                delivered(read);
            }
        });
        return read.result == Success;
    }

private:
    DeviceRegistry& registry_;
    Clock& clock_;
    BusJobs& jobs_;
    const int code_;
    const int id_;
    const std::vector<std::pair<std::uint8_t, std::uint8_t>> blocks_;
    const std::int64_t periodUs_;
    QPointer<QObject> receiver_;
    Delivered delivered_;
    std::int64_t dueUs_;
    // Shared with the reads on their way to the GUI thread.
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

ControlTableRefresh::ControlTableRefresh(ManagerApp& app, int code, int id, int modelNumber)
    : app_(app), code_(code), id_(id), blocks_(readBlocks(volatileItems(modelNumber))) {}

ControlTableRefresh::~ControlTableRefresh() {
    stop();
}

void ControlTableRefresh::start(double rateHz, QObject* receiver, Delivered delivered) {
    stop();
    const std::int64_t periodUs = rateHz > 0 ? static_cast<std::int64_t>(1e6 / rateHz) : 0;
    source_ = std::make_shared<Source>(app_, code_, id_, blocks_, periodUs, receiver,
                                       std::move(delivered));
    app_.executor().addPeriodic(source_);
}

void ControlTableRefresh::stop() {
    if (source_ != nullptr) {
        source_->stop();
        app_.executor().removePeriodic(source_);
        source_.reset();
    }
}

}  // namespace mvx::gui
