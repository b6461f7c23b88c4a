// The Control Table page: every register item the register table knows for the device's
// model, in address order, with its address, name, size, access, raw value and the value in
// its unit (the description as tooltip). The whole table is read on activation and on Read
// All, as a job; the live refresh reads the registers that change by themselves at the
// chosen rate (changed values are highlighted for a moment). A double-click on the value of a
// register `set` can write opens it for editing: the value as `set` takes it (volts, on/off,
// flag names, else the raw number), "N raw" for the raw number, or a position as "D°", goes to the
// device through the same setter and checks, as a page write, and the table is read back; a refused
// value says why and the row shows the device's value. An ID or baud change moves the device in the
// tree. Copy puts it on the clipboard as text, Save writes it as CSV. A device whose model is not
// in the catalogue, or that answers no reads, shows why there is nothing to list.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/RegisterTable.h"
#include "gui/pages/ControlTableRefresh.h"
#include "gui/sheet/DevicePage.h"

namespace Ui {
class ControlTablePage;
}

namespace mvx::gui {

// A device's whole control table as a job read it.
struct ControlTableRead {
    bool registered = false;
    int result = 0;
    int modelNumber = 0;
    std::array<std::uint8_t, 256> table{};

    static ControlTableRead jobFailed() {
        ControlTableRead failed;
        failed.registered = true;
        failed.result = AdapterFailure;
        return failed;
    }
};

class ControlTablePage : public DevicePage {
    Q_OBJECT

public:
    enum Column { AddressColumn, NameColumn, SizeColumn, AccessColumn, RawColumn, ValueColumn };

    explicit ControlTablePage(DeviceSheet& sheet);
    ~ControlTablePage() override;

    void activate(Activated activated) override;
    // Ends the live refresh (the choice goes back to Off).
    void deactivate() override;

    // The rows shown, as `movantrix-cli regs` prints them / as CSV.
    std::string text() const;
    std::string csv() const;

private:
    // Reads the whole table; `activated` (may be empty) is told the outcome.
    void readAll(Activated activated);
    void show(const ControlTableRead& read);
    // Sizes the columns to what they show (see the .cpp).
    void fitColumns();
    // The value column's text: the value in its unit (the raw number has its own column).
    static QString shownValue(const RegisterRow& row);
    // The user ended editing the value of `row` with `text`.
    void edited(int row, const QString& text);
    void refreshChosen(int index);
    void refreshed(const RefreshRead& read);
    void stopRefresh();
    void copy();
    void save();

    std::unique_ptr<Ui::ControlTablePage> ui_;
    std::vector<RegisterRow> rows_;
    int modelNumber_ = -1;  // of the last read; -1 before it
    std::unique_ptr<ControlTableRefresh> refresh_;
    // Per row: the number of the refresh that last changed it (its highlight's owner).
    std::vector<std::uint64_t> changedIn_;
    std::uint64_t refreshes_ = 0;
    bool reading_ = false;
    bool filling_ = false;  // the table's cells are being set by the page itself
};

}  // namespace mvx::gui
