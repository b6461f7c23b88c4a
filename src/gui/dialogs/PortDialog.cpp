#include "gui/dialogs/PortDialog.h"

#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/app/ToolTipWidth.h"
#include "ui_PortDialog.h"

namespace mvx::gui {

namespace {

// What opening an adapter found.
struct PortOpened {
    bool open = false;
    std::vector<std::string> limitations;
    AdapterListing listing;  // the adapters again, after a failed open

    // A job that threw: the open failed, and the list could not be taken again.
    static PortOpened jobFailed() { return {false, {}, AdapterListing::jobFailed()}; }
};

}  // namespace

AdapterListing listAdapters(BusConnection& bus) {
    AdapterListing listing;
    listing.count = bus.adapterCount();
    for (int index = 0; index < listing.count; ++index) {
        std::string name;
        if (bus.adapterName(static_cast<std::uint32_t>(index), name)) {
            listing.names.emplace_back(std::move(name));
        } else {
            listing.names.emplace_back();
        }
    }
    return listing;
}

PortDialog::PortDialog(ManagerApp& app, const AdapterListing& listing, QWidget* parent)
    : QDialog(parent), app_(app), ui_(std::make_unique<Ui::PortDialog>()) {
    ui_->setupUi(this);
    new ToolTipWidth(*this, 500);
    connect(ui_->okButton, &QPushButton::clicked, this, &PortDialog::onOk);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &PortDialog::reject);
    fillList(listing);  // a failed listing (-1) gives an empty list
}

PortDialog::~PortDialog() = default;

void PortDialog::fillList(const AdapterListing& listing) {
    ui_->portList->clear();
    for (const std::optional<std::string>& name : listing.names) {
        ui_->portList->addItem(name ? QString::fromStdString(*name) : texts::kUnknownDeviceName);
    }
    ui_->portList->setCurrentIndex(ui_->portList->count() > 0 ? 0 : -1);
}

void PortDialog::setBusy(bool busy) {
    busy_ = busy;
    ui_->okButton->setEnabled(!busy);
    ui_->portList->setEnabled(!busy);
}

void PortDialog::reject() {
    if (!busy_) {  // an open under way ends first
        QDialog::reject();
    }
}

void PortDialog::onOk() {
    const int index = ui_->portList->currentIndex();
    if (index < 0 || busy_) {
        return;
    }
    setBusy(true);
    BusConnection& bus = app_.registry().bus();
    app_.jobs().command(
        this,
        [&bus, index] {
            PortOpened opened;
            opened.open = bus.open(static_cast<std::uint32_t>(index));
            if (opened.open) {
                opened.limitations = bus.adapterLimitations();
            } else {
                opened.listing = listAdapters(bus);
            }
            return opened;
        },
        [this](const PortOpened& opened) {
            setBusy(false);
            if (opened.open) {
                app_.setAdapterOpen(true);
                limitations_ = opened.limitations;
                accept();
                return;
            }
            app_.operations().message(this, texts::kAdapterAccessFailed);
            if (opened.listing.count == 0) {
                app_.operations().message(this, texts::kAdapterNotFound);
            }
            fillList(opened.listing);
        });
}

}  // namespace mvx::gui
