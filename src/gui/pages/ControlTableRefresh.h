// The Control Table page's live refresh: a periodic source of the bus executor that reads the
// device's volatile registers (the read-only ones past the identity) in as few reads as the
// blocks allow, at a rate or as fast as the bus allows, and yields (reads nothing) while a
// command waits or the bus is busy. Each read reaches the page as a queued call; a failed one
// ends the refresh.
#pragma once

#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "device/RegisterTable.h"

namespace mvx::gui {

class ManagerApp;

// The registers a refresh reads: the read-only items past the identity.
std::vector<RegisterItem> volatileItems(int modelNumber);

// One refresh's read: the blocks' bytes at their addresses, and the result.
struct RefreshRead {
    bool registered = true;
    int result = 0;
    std::array<std::uint8_t, 256> table{};
};

class ControlTableRefresh {
public:
    using Delivered = std::function<void(const RefreshRead&)>;

    ControlTableRefresh(ManagerApp& app, int code, int id, int modelNumber);
    ~ControlTableRefresh();  // stops

    ControlTableRefresh(const ControlTableRefresh&) = delete;
    ControlTableRefresh& operator=(const ControlTableRefresh&) = delete;

    // Starts reading every 1/`rateHz` s (0: as fast as the bus allows); each read goes to
    // `delivered` on the GUI thread while `receiver` lives. A running refresh is stopped first.
    void start(double rateHz, QObject* receiver, Delivered delivered);
    // No read of the refresh reaches the page after this returns.
    void stop();
    bool running() const { return source_ != nullptr; }

private:
    class Source;

    ManagerApp& app_;
    int code_;
    int id_;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> blocks_;
    std::shared_ptr<Source> source_;
};

}  // namespace mvx::gui
