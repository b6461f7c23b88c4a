#include "support/GuiHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <thread>

#include "gui/dialogs/SearchDialog.h"

namespace mvx::gui::test {

FtStatus TestAdapters::listNumber(std::uint32_t* out) {
    target->noteThread("listNumber");
    if (count < 0) {
        return FT_IO_ERROR;
    }
    *out = static_cast<std::uint32_t>(count);
    return FT_OK;
}

FtStatus TestAdapters::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    target->noteThread("listDescription");
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
    hooked.forbiddenThread = std::this_thread::get_id();
    adapters.target = &hooked;
    adapters.descriptions = {description.adapterName};
    app_ = std::make_unique<ManagerApp>(adapters, clock, ops_);
    alive().push_back(this);
}

std::vector<GuiHarness*>& GuiHarness::alive() {
    static std::vector<GuiHarness*> harnesses;
    return harnesses;
}

GuiHarness::~GuiHarness() {
    alive().erase(std::find(alive().begin(), alive().end(), this));
    window_.reset();
    app_.reset();  // closes the adapter (on the executor) while the bus is still there
    const std::vector<std::string> calls = hooked.forbiddenCalls();
    if (!calls.empty()) {
        QTest::qFail(qPrintable(QStringLiteral("driver calls on the GUI thread: %1")
                                    .arg(QString::fromStdString(calls.front()))),
                     __FILE__, __LINE__);
    }
}

void GuiHarness::settle() {
    constexpr int kRounds = 100000;
    for (int round = 0; round < kRounds; ++round) {
        app_->executor().runUntilIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (app_->jobs().waiting() == 0) {
            QVERIFY2(hooked.forbiddenCalls().empty(), "a driver call on the GUI thread");
            return;
        }
    }
    QFAIL("the bus jobs did not settle");
}

void GuiHarness::onBus(const std::function<void()>& work) {
    app_->executor().submit(work);
    app_->executor().runUntilIdle();
}

void GuiHarness::command(Command command) {
    window_->runCommand(command);
    settle();
}

bool GuiHarness::busOpen() {
    bool open = false;
    onBus([&] { open = registry().bus().isOpen(); });
    return open;
}

void GuiHarness::startUp() {
    window_ = std::make_unique<MainWindow>(*app_);
    window_->startUp();
    settle();
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
    clickDeviceOnly(code, id);
    settle();
}

void GuiHarness::clickDeviceOnly(int code, int id) {
    QTreeWidgetItem* item = deviceItem(tree(), code, id);
    QVERIFY2(item != nullptr, "device item not in the tree");
    tree().scrollToItem(item);
    const QRect rect = tree().visualItemRect(item);
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, rect.center());
}

void GuiHarness::clickOnly(QDialog& dialog, const char* buttonName) {
    auto* button = dialog.findChild<QAbstractButton*>(QString::fromLatin1(buttonName));
    QVERIFY2(button != nullptr, buttonName);
    QTest::mouseClick(button, Qt::LeftButton);
}

void GuiHarness::click(QDialog& dialog, const char* buttonName) {
    clickOnly(dialog, buttonName);
    for (GuiHarness* harness : alive()) {
        harness->settle();
    }
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
            settle();
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
    clickOnly(dialog, "searchButton");
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
