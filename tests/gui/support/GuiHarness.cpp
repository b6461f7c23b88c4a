#include "support/GuiHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTest>

#include <cstring>

#include "gui/dialogs/SearchDialog.h"

namespace mvx::gui::test {

FtStatus TestAdapters::listNumber(std::uint32_t* out) {
    if (count < 0) {
        return FT_IO_ERROR;
    }
    *out = static_cast<std::uint32_t>(count);
    return FT_OK;
}

FtStatus TestAdapters::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    if (index >= descriptions.size() || !descriptions[index] || size == 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    std::strncpy(buffer, descriptions[index]->c_str(), size - 1);
    buffer[size - 1] = '\0';
    return FT_OK;
}

FtStatus TestAdapters::open(std::uint32_t index, FtHandle* handle) {
    if (static_cast<int>(index) >= count || failingOpens.count(index) != 0) {
        return FT_DEVICE_NOT_OPENED;
    }
    opened.push_back(index);
    return target->open(0, handle);
}

GuiHarness::GuiHarness(const BusDescription& description)
    : bus_(std::make_unique<SimulatedBus>(description, clock)),
      simDriver_(std::make_unique<SimDriver>(*bus_)) {
    hooked.target = simDriver_.get();
    adapters.target = &hooked;
    adapters.descriptions = {description.adapterName};
    app_ = std::make_unique<ManagerApp>(adapters, clock, ops_);
}

GuiHarness::~GuiHarness() {
    window_.reset();
    app_.reset();  // closes the adapter while the bus is still there
}

void GuiHarness::startUp() {
    window_ = std::make_unique<MainWindow>(*app_);
    window_->startUp();
    window_->show();
    // Shortcut keys reach only the active window.
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

QStringList GuiHarness::treeTexts(const DeviceTree& tree) {
    QStringList texts;
    for (int g = 0; g < tree.topLevelItemCount(); ++g) {
        const QTreeWidgetItem* group = tree.topLevelItem(g);
        texts << group->text(0);
        for (int d = 0; d < group->childCount(); ++d) {
            texts << QStringLiteral("  ") + group->child(d)->text(0);
        }
    }
    return texts;
}

QStringList GuiHarness::treeTexts() const {
    return treeTexts(window_->view().tree());
}

QStringList GuiHarness::tabTitles() const {
    QStringList titles;
    const DeviceSheet& sheet = window_->view().sheet();
    for (int i = 0; i < sheet.count(); ++i) {
        titles << sheet.tabText(i);
    }
    return titles;
}

QString GuiHarness::countText() const {
    return window_->findChild<QLabel*>(QStringLiteral("countLabel"))->text();
}

QTreeWidgetItem* deviceItem(const DeviceTree& tree, int code, int id) {
    for (int g = 0; g < tree.topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = tree.topLevelItem(g);
        if (group->text(0) != QStringLiteral("Baudrate %1").arg(code)) {
            continue;
        }
        for (int d = 0; d < group->childCount(); ++d) {
            if (group->child(d)->text(0) == QStringLiteral("ID %1").arg(id)) {
                return group->child(d);
            }
        }
    }
    return nullptr;
}

void GuiHarness::clickDevice(int code, int id) {
    QTreeWidgetItem* item = deviceItem(tree(), code, id);
    QVERIFY2(item != nullptr, "device item not in the tree");
    tree().scrollToItem(item);
    const QRect rect = tree().visualItemRect(item);
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, rect.center());
}

void GuiHarness::click(QDialog& dialog, const char* buttonName) {
    auto* button = dialog.findChild<QAbstractButton*>(QString::fromLatin1(buttonName));
    QVERIFY2(button != nullptr, buttonName);
    QTest::mouseClick(button, Qt::LeftButton);
}

void GuiHarness::startSearched() {
    dialogs().push_back(searchAndOk());
    startUp();
}

void GuiHarness::clickTab(const QString& title) {
    QTabBar* bar = sheet().tabBar();
    for (int i = 0; i < bar->count(); ++i) {
        if (bar->tabText(i) == title) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
            return;
        }
    }
    QFAIL(qPrintable("no tab " + title));
}

QString GuiHarness::activeTab() const {
    const DeviceSheet& sheet = window_->view().sheet();
    return sheet.tabText(sheet.currentIndex());
}

std::vector<SimTraffic> GuiHarness::hostPackets() const {
    std::vector<SimTraffic> packets;
    for (const SimTraffic& t : bus_->traffic()) {
        if (t.direction == SimTraffic::HostToBus) {
            packets.push_back(t);
        }
    }
    return packets;
}

SimFaults GuiHarness::silent() {
    SimFaults faults;
    faults.dropReply = true;
    return faults;
}

bool GuiHarness::runSearch(QDialog& dialog, bool full) {
    auto& searchDialog = static_cast<SearchDialog&>(dialog);
    if (full) {
        click(dialog, "fullOption");
    }
    click(dialog, "searchButton");
    const bool ended =
        waitFor([&] { return !searchDialog.searching() || !dialog.isVisible(); }, 60000);
    ops_.tickTimers();
    return ended;
}

ScriptedGuiOperations::DialogHandler GuiHarness::searchAndOk(bool full) {
    return [this, full](QDialog& dialog) {
        runSearch(dialog, full);
        click(dialog, "okButton");
        return dialog.result();
    };
}

ScriptedGuiOperations::DialogHandler GuiHarness::handler(std::function<void(QDialog&)> body) {
    return [body = std::move(body)](QDialog& dialog) {
        body(dialog);
        return dialog.result();
    };
}

int GuiHarness::okWithoutSearch(QDialog& dialog) {
    click(dialog, "okButton");
    return dialog.result();
}

}  // namespace mvx::gui::test
