#include "gui/sheet/DeviceSheet.h"

#include "gui/app/ManagerApp.h"
#include "gui/pages/ConfigurePage.h"
#include "gui/pages/NetworkPage.h"
#include "gui/pages/OperationPage.h"
#include "gui/sheet/NoSelectionPage.h"

namespace mvx::gui {

DeviceSheet::DeviceSheet(ManagerApp& app, QWidget* parent) : QTabWidget(parent), app_(app) {
    setObjectName(QStringLiteral("deviceSheet"));
    connect(this, &QTabWidget::currentChanged, this, &DeviceSheet::onCurrentChanged);
    ++rebuilding_;
    addPage(new NoSelectionPage(*this));
    --rebuilding_;
    activePage_ = currentPage();
}

DeviceSheet::~DeviceSheet() = default;

DevicePage* DeviceSheet::currentPage() const {
    return static_cast<DevicePage*>(currentWidget());
}

void DeviceSheet::addPage(DevicePage* page) {
    addTab(page, page->title());
}

void DeviceSheet::showDevice(int code, int id) {
    const QString activeTitle = currentPage() != nullptr ? currentPage()->title() : QString();
    currentBaud_ = code;
    currentId_ = id;

    setUpdatesEnabled(false);
    rebuilding_ = 1;
    ++generation_;
    if (activePage_ != nullptr) {
        activePage_->deactivate();
        activePage_ = nullptr;
    }
    while (count() > 0) {
        QWidget* page = widget(0);
        removeTab(0);
        // A page may be removed from inside its own activation (a reported failure rebuilds
        // the sheet), so it is destroyed once control is back in the event loop.
        page->hide();
        page->deleteLater();
    }

    const DeviceEntry* entry = app_.registry().find(code, id);
    if (entry == nullptr) {
        addPage(new NoSelectionPage(*this));
    } else if (entry->returnLevel() != 0 && entry->modelClass() == Actuator) {
        addPage(new OperationPage(*this));
        addPage(new ConfigurePage(*this));
        addPage(new NetworkPage(*this));
    } else {
        addPage(new NetworkPage(*this));
    }
    rebuilding_ = 0;

    int target = 0;
    for (int i = 0; i < count(); ++i) {
        if (tabText(i) == activeTitle) {
            target = i;
        }
    }
    activatePage(target);
    setUpdatesEnabled(true);
    update();
}

void DeviceSheet::activatePage(int index) {
    const unsigned generation = generation_;
    activating_ = true;
    setCurrentIndex(index);
    activating_ = false;
    DevicePage* page = static_cast<DevicePage*>(widget(index));
    activePage_ = page;
    if (page->activate() || generation != generation_ || index == 0) {
        return;
    }
    // Refused: the first page of the set takes its place.
    activating_ = true;
    setCurrentIndex(0);
    activating_ = false;
    activePage_ = static_cast<DevicePage*>(widget(0));
    activePage_->activate();
}

void DeviceSheet::onCurrentChanged(int index) {
    if (rebuilding_ != 0 || activating_ || index < 0) {
        return;
    }
    // The user picked another tab.
    if (activePage_ != nullptr && activePage_ != widget(index)) {
        activePage_->deactivate();
    }
    activatePage(index);
}

}  // namespace mvx::gui
