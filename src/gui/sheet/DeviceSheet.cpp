#include "gui/sheet/DeviceSheet.h"

#include "gui/app/ManagerApp.h"
#include "gui/pages/ConfigurePage.h"
#include "gui/pages/ControlTablePage.h"
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

void DeviceSheet::endActivation() {
    ++activation_;
    std::vector<std::function<void()>> shown;
    shown.swap(shown_);
    for (const std::function<void()>& callback : shown) {
        callback();
    }
}

void DeviceSheet::showDevice(int code, int id, std::function<void()> shown) {
    const QString activeTitle = currentPage() != nullptr ? currentPage()->title() : QString();
    endActivation();
    if (shown) {
        shown_.push_back(std::move(shown));
    }
    currentBaud_ = code;
    currentId_ = id;
    emit deviceShown();

    setUpdatesEnabled(false);
    const DeviceSummary* device = app_.findDevice(code, id);
    if (device == nullptr) {
        setPages(PageSet::NoInformation);
    } else if (device->returnLevel != 0 && device->modelClass == Actuator) {
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

void DeviceSheet::expectRebuild() {
    endActivation();
    for (int i = 0; i < count(); ++i) {
        static_cast<DevicePage*>(widget(i))->retire();
    }
    activePage_ = nullptr;
}

void DeviceSheet::setPages(PageSet set) {
    rebuilding_ = 1;
    if (activePage_ != nullptr) {
        activePage_->deactivate();
        activePage_ = nullptr;
    }
    while (count() > 0) {
        auto* page = static_cast<DevicePage*>(widget(0));
        removeTab(0);
        // A page may be removed from inside its own result (a reported failure rebuilds the
        // sheet), so it is destroyed once control is back in the event loop; until then it
        // drops whatever still arrives for it.
        page->retire();
        page->hide();
        page->deleteLater();
    }
    switch (set) {
        case PageSet::NoInformation:
            addPage(new NoSelectionPage(*this));
            break;
        case PageSet::NetworkOnly:
            addPage(new NetworkPage(*this));
            addPage(new ControlTablePage(*this));
            break;
        case PageSet::Actuator:
            addPage(new OperationPage(*this));
            addPage(new ConfigurePage(*this));
            addPage(new NetworkPage(*this));
            addPage(new ControlTablePage(*this));
            break;
    }
    rebuilding_ = 0;
}

void DeviceSheet::activateAt(int index, std::function<void(bool)> then) {
    activating_ = true;
    setCurrentIndex(index);
    activating_ = false;
    auto* page = static_cast<DevicePage*>(widget(index));
    activePage_ = page;
    page->activate(std::move(then));
}

void DeviceSheet::activatePage(int index) {
    const unsigned activation = activation_;
    const bool networkTried = qobject_cast<NetworkPage*>(widget(index)) != nullptr ||
                              qobject_cast<NetworkPage*>(widget(0)) != nullptr;
    activateAt(index, [this, activation, index, networkTried](bool accepted) {
        if (activation != activation_) {
            return;  // ended meanwhile (a reported failure's rebuild is on its way, say)
        }
        if (accepted) {
            endActivation();
            return;
        }
        if (index == 0) {
            fallBack(networkTried, activation);
            return;
        }
        // Refused: the first page of the set takes its place.
        activateAt(0, [this, activation, networkTried](bool firstAccepted) {
            if (activation != activation_) {
                return;
            }
            if (firstAccepted) {
                endActivation();
            } else {
                fallBack(networkTried, activation);
            }
        });
    });
}

void DeviceSheet::fallBack(bool networkTried, unsigned activation) {
    auto nothing = [this, activation](bool) {
        if (activation == activation_) {
            endActivation();
        }
    };
    // Neither could show the device: it has left the registry, or its reads fail and were
    // reported already. The Network page reads the least of it; failing that, nothing shows.
    if (!networkTried && app_.findDevice(currentBaud_, currentId_) != nullptr) {
        setPages(PageSet::NetworkOnly);
        activateAt(0, [this, activation, nothing](bool accepted) {
            if (activation != activation_) {
                return;
            }
            if (accepted) {
                endActivation();
                return;
            }
            setPages(PageSet::NoInformation);
            activateAt(0, nothing);
        });
        return;
    }
    setPages(PageSet::NoInformation);
    activateAt(0, nothing);
}

void DeviceSheet::onCurrentChanged(int index) {
    if (rebuilding_ != 0 || activating_ || index < 0) {
        return;
    }
    // The user picked another tab: the activation under way (if any) gives way to it.
    if (activePage_ != nullptr && activePage_ != widget(index)) {
        activePage_->deactivate();
    }
    endActivation();
    activatePage(index);
}

}  // namespace mvx::gui
