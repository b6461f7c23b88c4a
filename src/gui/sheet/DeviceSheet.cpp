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
    const DeviceEntry* entry = app_.registry().find(code, id);
    if (entry == nullptr) {
        setPages(PageSet::NoInformation);
    } else if (entry->returnLevel() != 0 && entry->modelClass() == Actuator) {
        setPages(PageSet::Actuator);
    } else {
        setPages(PageSet::NetworkOnly);
    }

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

void DeviceSheet::setPages(PageSet set) {
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
    switch (set) {
        case PageSet::NoInformation:
            addPage(new NoSelectionPage(*this));
            break;
        case PageSet::NetworkOnly:
            addPage(new NetworkPage(*this));
            break;
        case PageSet::Actuator:
            addPage(new OperationPage(*this));
            addPage(new ConfigurePage(*this));
            addPage(new NetworkPage(*this));
            break;
    }
    rebuilding_ = 0;
}

bool DeviceSheet::activatedOrRebuilt(int index) {
    const unsigned generation = generation_;
    activating_ = true;
    setCurrentIndex(index);
    activating_ = false;
    DevicePage* page = static_cast<DevicePage*>(widget(index));
    activePage_ = page;
    return page->activate() || generation != generation_;
}

void DeviceSheet::activatePage(int index) {
    if (activatedOrRebuilt(index)) {
        return;
    }
    // Refused: the first page of the set takes its place.
    const bool networkTried = qobject_cast<NetworkPage*>(widget(index)) != nullptr ||
                              qobject_cast<NetworkPage*>(widget(0)) != nullptr;
    if (index != 0 && activatedOrRebuilt(0)) {
        return;
    }
    // Neither could show the device: it has left the registry, or its reads fail and were
    // reported already. The Network page reads the least of it; failing that, nothing shows.
    if (!networkTried && app_.registry().find(currentBaud_, currentId_) != nullptr) {
        setPages(PageSet::NetworkOnly);
        if (activatedOrRebuilt(0)) {
            return;
        }
    }
    setPages(PageSet::NoInformation);
    activatedOrRebuilt(0);
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
