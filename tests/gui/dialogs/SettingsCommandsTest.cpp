// Save Settings and Load Settings as the user meets them: when they are offered, the file
// dialogs asked, the differences shown, what Apply and Cancel put on the wire, and the
// refusals of another model's file and of a bad file.
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "device/SettingsFile.h"
#include "protocol/Packet.h"
#include "support/ExecutorGate.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kFilter = QStringLiteral("Movantrix Settings (*.json)");

// The rows of the differences table as "setting: now -> file", " (greyed)" added to a row
// that Apply leaves.
QStringList rows(QDialog& dialog) {
    auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("differencesTable"));
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r) {
        const bool greyed = !(table->item(r, 0)->flags() & Qt::ItemIsEnabled);
        out << table->item(r, 0)->text() + ": " + table->item(r, 1)->text() + " -> " +
                   table->item(r, 2)->text() + (greyed ? " (greyed)" : "");
    }
    return out;
}

template <typename T>
T* child(QDialog& dialog, const char* name) {
    return dialog.findChild<T*>(QString::fromLatin1(name));
}

const QString kAdapterFailed =
    QStringLiteral("USB2Movantrix access failed! \n\nPlease check connection.");
const QString kDeviceFailed = QStringLiteral(
    "Movantrix access failed! \n\nPlease check USB2Movantrix, movantrix(s), and power "
    "connection. ");

// Addresses of the host's Write packets since the traffic was cleared.
QList<int> writes(const GuiHarness& h) {
    QList<int> out;
    for (const SimTraffic& t : h.hostPackets()) {
        if (t.bytes.size() > 6 && t.bytes[4] == Write) {
            out << t.bytes[5];
        }
    }
    return out;
}

bool enabled(GuiHarness& h, Command command) {
    QMenu* menu = h.window().findChild<QMenu*>(QStringLiteral("advanceMenu"));
    emit menu->aboutToShow();
    return h.window().action(command)->isEnabled();
}

// The application with device (1, 1), an MQ-35, selected and its settings saved in a file.
struct Saved {
    Saved() {
        h.startSearched();
        h.clickDevice(1, 1);
        h.ops().saveAnswers.push_back(file);
        h.window().action(Command::SaveSettings)->trigger();
        h.settle();
        h.bus().clearTraffic();
    }
    void load(ScriptedGuiOperations::DialogHandler handler) {
        h.ops().fileAnswers.push_back(file);
        h.dialogs().push_back(std::move(handler));
        h.window().action(Command::LoadSettings)->trigger();
        h.settle();
    }

    QTemporaryDir dir;
    QString file = dir.filePath(QStringLiteral("arm.json"));
    GuiHarness h;
};

}  // namespace

class SettingsCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void offeredForAnActuatorThatAnswersReadsOnly() {
        GuiHarness h;
        h.startSearched();
        const struct {
            int code, id;
            bool offered;
        } cases[] = {{1, 1, true}, {1, 9, false}, {34, 100, false}, {34, 7, true}};
        for (const auto& c : cases) {
            h.clickDevice(c.code, c.id);
            QCOMPARE(enabled(h, Command::SaveSettings), c.offered);
            QCOMPARE(enabled(h, Command::LoadSettings), c.offered);
        }
        h.app().busBusy = 1;
        QVERIFY(!enabled(h, Command::LoadSettings));
        h.command(Command::LoadSettings);
        QVERIFY(h.ops().lastFilter.isEmpty());  // no file dialog was asked
        h.app().busBusy = 0;
    }

    // The user moves on while Save or Load Settings reads the device, which has gone silent:
    // the failure is reported against the device read, and the user's selection stays.
    void aFailureIsReportedAgainstTheDeviceRead_data() {
        QTest::addColumn<bool>("loading");
        QTest::newRow("save") << false;
        QTest::newRow("load") << true;
    }

    void aFailureIsReportedAgainstTheDeviceRead() {
        QFETCH(bool, loading);
        Saved s;
        s.h.bus().find(1, 1)->setFaults(GuiHarness::silent());
        (loading ? s.h.ops().fileAnswers : s.h.ops().saveAnswers).push_back(s.file);
        {
            ExecutorGate gate(s.h.app().executor());
            s.h.window().action(loading ? Command::LoadSettings : Command::SaveSettings)->trigger();
            s.h.clickDeviceOnly(1, 3);
        }
        s.h.settle();
        QCOMPARE(s.h.ops().messages, QStringList{kDeviceFailed});
        QVERIFY(deviceItem(s.h.tree(), 1, 1) == nullptr);  // the silent one, dropped
        QCOMPARE(s.h.tree().rememberedId(), 3);
        QCOMPARE(s.h.sheet().currentId(), 3);
    }

    void saveWritesTheSelectedDevicesSettings() {
        Saved s;
        QCOMPARE(s.h.ops().lastFilter, kFilter);
        QVERIFY(s.h.ops().messages.isEmpty());
        DeviceSettings read;
        std::string error;
        QVERIFY2(readSettingsFile(s.file.toStdString(), read, error), error.c_str());
        QCOMPARE(read.modelNumber, 28);
        QCOMPARE(read.id, 1);
        QCOMPARE(read.find(Setting::MaxTorque)->value, s.h.bus().find(1, 1)->reg16(14));
    }

    // Files that crashed or froze the program are refused with the file and the key, and
    // nothing reaches the bus; a FIFO is not waited on, neither to load nor to save.
    void hostileFilesAreRefusedAndNothingIsWritten() {
        Saved s;
        std::stringstream saved;
        saved << std::ifstream(s.file.toStdString()).rdbuf();
        const std::string good = saved.str();
        auto edited = [&good](const std::string& what, const std::string& with) {
            std::string text = good;
            const auto at = text.find(what);
            return at == std::string::npos ? std::string() : text.replace(at, what.size(), with);
        };
        const std::string deep = std::string(200000, '[') + std::string(200000, ']');
        const struct {
            const char* name;
            std::string text;  // empty: a FIFO
            QString reason;
        } cases[] = {
            {"fifo", "", QStringLiteral("not a regular file")},
            {"big", edited("\"min-voltage\": 6.0", "\"min-voltage\": 1e400"),
             QStringLiteral("settings.min-voltage: number 1e400 is out of range")},
            {"deep", edited("\"model_name\": \"MQ-35\"", "\"model_name\": " + deep),
             QStringLiteral("model_name[0][0][0][0][0]...: nested deeper than 64 levels")},
            {"twice", edited("\"model\": 28,", "\"model\": 28, \"model\": 28,"),
             QStringLiteral("model: duplicate key")},
            {"inverted", edited("\"min-voltage\": 6.0", "\"min-voltage\": 19.5"),
             QStringLiteral("settings.min-voltage: 19.5 V is above max-voltage 19.0 V; the "
                            "device cannot hold both")},
        };
        for (const auto& c : cases) {
            const QString path = s.dir.filePath(QString::fromLatin1(c.name) + ".json");
            const std::string local = path.toStdString();
            if (c.text.empty()) {
                QCOMPARE(::mkfifo(local.c_str(), 0600), 0);
            } else {
                std::ofstream(local) << c.text;
            }
            // Frees a load that waits for a writer, so that the test fails rather than hangs.
            std::atomic<bool> done{false};
            std::atomic<bool> freed{false};
            std::thread watchdog([&] {
                for (int i = 0; i < 1000 && !done; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                if (!done) {
                    freed = true;
                    ::close(::open(local.c_str(), O_WRONLY | O_NONBLOCK));
                }
            });
            s.h.ops().fileAnswers.push_back(path);
            s.h.window().action(Command::LoadSettings)->trigger();
            done = true;
            watchdog.join();
            QVERIFY2(!freed, c.name);  // the load waited for a writer
            QCOMPARE(s.h.ops().messages.last(),
                     "Can not load the settings file!\n\n" + path + ": " + c.reason);
        }
        QVERIFY(s.h.hostPackets().empty());

        // Saving onto the FIFO is refused; it stays a FIFO.
        const QString fifo = s.dir.filePath(QStringLiteral("fifo.json"));
        s.h.ops().saveAnswers.push_back(fifo);
        s.h.window().action(Command::SaveSettings)->trigger();
        s.h.settle();
        QCOMPARE(s.h.ops().messages.last(),
                 "Can not save the settings file!\n\n" + fifo + ": not a regular file");
        struct stat info {};
        QCOMPARE(::lstat(fifo.toStdString().c_str(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode));
    }

    void loadShowsTheDifferencesAndCancelWritesNothing() {
        Saved s;
        SimulatedDevice& d = *s.h.bus().find(1, 1);
        d.setReg16(14, 800);
        d.setReg(13, 150);
        d.setReg(5, 100);
        s.load(GuiHarness::handler([](QDialog& dialog) {
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Load Settings"));
            QCOMPARE(rows(dialog),
                     (QStringList{"max-voltage: 15.0 V -> 19.0 V", "max-torque: 800 -> 1023",
                                  "return-delay: 100 -> 250 (greyed)"}));
            auto* network = dialog.findChild<QCheckBox*>(QStringLiteral("networkCheck"));
            QVERIFY(!network->isChecked());
            QVERIFY(!child<QLabel>(dialog, "hintLabel")->isVisible());
            QTest::mouseClick(network, Qt::LeftButton);
            QCOMPARE(rows(dialog).last(), QStringLiteral("return-delay: 100 -> 250"));
            GuiHarness::click(dialog, "cancelButton");
        }));
        QCOMPARE(s.h.ops().lastFilter, kFilter);
        QCOMPARE(s.h.ops().dialogsRun.last(), QStringLiteral("Load Settings"));
        QVERIFY(writes(s.h).isEmpty());
        QCOMPARE(d.reg16(14), 800);
        QCOMPARE(s.h.app().busBusy.load(), 0);
    }

    void applyWritesTheDifferencesAndShowsTheNewValues() {
        Saved s;
        SimulatedDevice& d = *s.h.bus().find(1, 1);
        d.setReg16(14, 800);
        d.setReg(5, 100);
        s.h.clickTab(QStringLiteral("Configure"));
        s.h.bus().clearTraffic();
        s.load(
            GuiHarness::handler([](QDialog& dialog) { GuiHarness::click(dialog, "applyButton"); }));
        QVERIFY(s.h.ops().messages.isEmpty());
        QCOMPARE(writes(s.h), QList<int>{14});
        QCOMPARE(d.reg16(14), 1023);
        QCOMPARE(d.reg(5), 100);  // the network box was off
        auto* torque =
            s.h.sheet().currentWidget()->findChild<QLabel*>(QStringLiteral("torqueLabel"));
        QCOMPARE(torque->text(), QStringLiteral(" 1023\n(100\uFF05)"));
    }

    void onlyNetworkSettingsDifferGreyedUntilTheBoxIsTicked_data() {
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QList<int>>("written");
        QTest::addColumn<int>("delay");  // on the device afterwards
        QTest::newRow("box left off: Apply is off") << false << QList<int>{} << 100;
        QTest::newRow("box ticked: Apply writes it") << true << QList<int>{5} << 250;
    }

    void onlyNetworkSettingsDifferGreyedUntilTheBoxIsTicked() {
        QFETCH(bool, tick);
        QFETCH(QList<int>, written);
        QFETCH(int, delay);
        Saved s;
        SimulatedDevice& d = *s.h.bus().find(1, 1);
        d.setReg(5, 100);  // only the return delay differs
        s.load(GuiHarness::handler([tick](QDialog& dialog) {
            QCOMPARE(rows(dialog), QStringList{"return-delay: 100 -> 250 (greyed)"});
            auto* table = child<QTableWidget>(dialog, "differencesTable");
            QCOMPARE(table->item(0, 2)->toolTip(),
                     QStringLiteral("Restored only with \"Also restore the network "
                                    "settings\" ticked"));
            auto* apply = child<QPushButton>(dialog, "applyButton");
            auto* hint = child<QLabel>(dialog, "hintLabel");
            QVERIFY(!apply->isEnabled());
            QVERIFY(hint->isVisible());
            QCOMPARE(hint->text(), QStringLiteral("Only the network settings differ. Tick the "
                                                  "box below to restore them."));
            if (tick) {
                QTest::mouseClick(child<QCheckBox>(dialog, "networkCheck"), Qt::LeftButton);
                QCOMPARE(rows(dialog), QStringList{"return-delay: 100 -> 250"});
                QVERIFY(apply->isEnabled());
                QVERIFY(!hint->isVisible());
            }
            QTest::mouseClick(apply, Qt::LeftButton);  // does nothing while it is off
        }));
        QCOMPARE(writes(s.h), written);
        QCOMPARE(d.reg(5), delay);
        QVERIFY(s.h.ops().messages.isEmpty());
    }

    // Three settings differ, written in this order: max-torque, cw-compliance-margin, punch.
    // The first message says what the movantrix holds now; the common report (and its Close
    // or refresh) follows as for any failure.
    void aRestoreThatFailsHalfwaySaysWhatWasWritten_data() {
        QTest::addColumn<int>("writesThrough");  // Write packets sent before the failure
        QTest::addColumn<bool>("adapterLost");   // else the movantrix goes silent
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("torque");  // on the device afterwards
        QTest::addColumn<int>("punch");
        const QString stopped = QStringLiteral(
            "Writing %1 failed (%2); the movantrix may or may not hold its new value.\n\n"
            "Written: %3\nNot written: %4");
        const QString lost = QStringLiteral("adapter access failed, 101");
        const QString silent = QStringLiteral("no reply (timeout), 103");
        QTest::newRow("adapter lost at the first write")
            << 0 << true
            << QStringList{stopped.arg("max-torque", lost, "none", "cw-compliance-margin, punch"),
                           kAdapterFailed}
            << 800 << 100;
        QTest::newRow("adapter lost at the second write")
            << 1 << true
            << QStringList{stopped.arg("cw-compliance-margin", lost, "max-torque", "punch"),
                           kAdapterFailed}
            << 1023 << 100;
        // Its reply is lost, but the last write took.
        QTest::newRow("movantrix silent from the last write")
            << 2 << false
            << QStringList{stopped.arg("punch", silent, "max-torque, cw-compliance-margin", "none"),
                           kDeviceFailed}
            << 1023 << 32;
        QTest::newRow("movantrix silent at the read-back")
            << 3 << false
            << QStringList{"The settings were written, but reading them back failed (no reply "
                           "(timeout), 103).\n\nWritten, not checked: max-torque, "
                           "cw-compliance-margin, punch",
                           kDeviceFailed}
            << 1023 << 32;
    }

    void aRestoreThatFailsHalfwaySaysWhatWasWritten() {
        QFETCH(int, writesThrough);
        QFETCH(bool, adapterLost);
        QFETCH(QStringList, messages);
        QFETCH(int, torque);
        QFETCH(int, punch);
        Saved s;
        SimulatedDevice& d = *s.h.bus().find(1, 1);
        d.setReg16(14, 800);
        d.setReg(26, 5);
        d.setReg16(48, 100);
        auto failure = [&](const std::string& call) {
            if (call != "write" || writes(s.h).size() < writesThrough) {
                return FT_OK;
            }
            if (adapterLost) {
                return FT_IO_ERROR;
            }
            d.setFaults(GuiHarness::silent());
            return FT_OK;
        };
        s.load(GuiHarness::handler([&](QDialog& dialog) {
            s.h.hooked.hook = failure;
            GuiHarness::click(dialog, "applyButton");
        }));
        s.h.hooked.hook = nullptr;
        QCOMPARE(s.h.ops().messages, messages);
        QCOMPARE(s.h.busOpen(), !adapterLost);
        QCOMPARE(d.reg16(14), torque);
        QCOMPARE(d.reg16(48), punch);
        QCOMPARE(s.h.app().busBusy.load(), 0);
    }

    void anotherModelsFileAndABadFileAreRefused() {
        Saved s;
        s.h.clickDevice(1, 2);  // an LT-50+
        s.h.bus().clearTraffic();
        s.load(GuiHarness::handler([](QDialog&) { QFAIL("no differences dialog"); }));
        QCOMPARE(s.h.ops().messages,
                 QStringList{"The settings file is for MQ-35 (model 28), the selected movantrix "
                             "is LT-50+ (model 12).\n\nNothing was written."});
        QVERIFY(writes(s.h).isEmpty());

        std::ofstream(s.file.toStdString())
            << "{\"format\": \"movantrix-settings\", \"version\": 7}";
        s.h.dialogs().clear();
        s.h.ops().fileAnswers.push_back(s.file);
        s.h.window().action(Command::LoadSettings)->trigger();
        s.h.settle();
        QCOMPARE(s.h.ops().messages.last(),
                 "Can not load the settings file!\n\n" + s.file +
                     ": version: version 7 is not supported (this program reads version 1)");
        QVERIFY(s.h.hostPackets().empty());
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::SettingsCommandsTest)
#include "SettingsCommandsTest.moc"
