// "Set Up Actuators" as the user meets it, over a simulated bus on which new actuators appear:
// the rows and the prompt, what goes on the wire, the device list afterwards, Stop and closing
// the window between steps, two new actuators at once, the refusals before a run, and the main
// window's commands while a run holds the bus.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <atomic>
#include <fstream>

#include "RobotGuiSupport.h"
#include "device/SettingsFile.h"
#include "gui/robot/RobotSetupWindow.h"
#include "support/ArmSettings.h"

namespace mvx::gui::test {

namespace {

template <typename T>
T* child(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no child %s", name);
    }
    return found;
}

RobotSetupWindow& openWindow(GuiHarness& h) {
    h.command(Command::SetUpActuators);
    RobotSetupWindow* w = h.window().setupWindow();
    if (w == nullptr || !w->isVisible()) {
        qFatal("the setup window did not open");
    }
    return *w;
}

void start(GuiHarness& h, RobotSetupWindow& w, const QString& ids, int code = 1) {
    child<QLineEdit>(w, "idsEdit")->setText(ids);
    child<QSpinBox>(w, "baudSpin")->setValue(code);
    QTest::mouseClick(child<QPushButton>(w, "startButton"), Qt::LeftButton);
    (void)h;
}

// The table as "ID: state: details".
QStringList rows(RobotSetupWindow& w) {
    auto* table = child<QTableWidget>(w, "rowsTable");
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r) {
        QString line = table->item(r, 0)->text() + ": " + table->item(r, 1)->text();
        if (!table->item(r, 2)->text().isEmpty()) {
            line += ": " + table->item(r, 2)->text();
        }
        out << line;
    }
    return out;
}

QString text(RobotSetupWindow& w, const char* label) {
    return child<QLabel>(w, label)->text();
}

QStringList notices(RobotSetupWindow& w) {
    auto* list = child<QListWidget>(w, "noticeList");
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        out << list->item(i)->text();
    }
    return out;
}

// Processes events (the run goes on, on virtual time) until the window shows `prompt`.
bool waitForPrompt(RobotSetupWindow& w, const QString& prompt) {
    return waitFor([&] { return text(w, "promptLabel") == prompt; }, 30000);
}

const Command kBusCommands[] = {
    Command::Close,          Command::Search,           Command::FirmwareUpdate,
    Command::SetUpActuators, Command::SaveRobotProfile, Command::CheckRobot};

}  // namespace

class RobotSetupWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Three new actuators at code 34 ID 1, one every 3 s, get IDs 1-3 at code 1: every row
    // reaches "checked", each actuator is moved once, and the main window lists them.
    void assignsTheActuatorsOneAfterTheOther_data() {
        QTest::addColumn<bool>("alone");
        QTest::addColumn<bool>("settingsFile");
        QTest::newRow("daisy-chained") << false << false;
        QTest::newRow("alone") << true << false;
        QTest::newRow("daisy-chained, settings file") << false << true;
    }
    void assignsTheActuatorsOneAfterTheOther() {
        QFETCH(bool, alone);
        QFETCH(bool, settingsFile);
        std::vector<SimDeviceSpec> devices;
        for (int k = 0; k < 3; ++k) {
            devices.push_back(newcomer(34, 1, mvx::test::runS(3.0 * (k + 1)),
                                       mvx::test::runS(alone && k < 2 ? 3.0 * (k + 2) : -1)));
        }
        auto h = startedOn(devices);
        RobotSetupWindow& w = openWindow(*h);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("joint.json"));
        if (settingsFile) {
            std::ofstream(file.toStdString()) << settingsJsonText(mvx::test::armSettings());
            h->ops().fileAnswers.push_back(file);
            QTest::mouseClick(child<QPushButton>(w, "browseButton"), Qt::LeftButton);
            QCOMPARE(h->ops().messages, QStringList());
            QCOMPARE(child<QLineEdit>(w, "settingsEdit")->text(), file);
        }
        start(*h, w, QStringLiteral("1-3"));
        QVERIFY(w.running());
        h->settle();

        QVERIFY(!w.running());
        const QString restored = settingsFile ? QStringLiteral(", settings restored") : QString();
        QCOMPARE(rows(w), QStringList({
                              "1: checked: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 1" +
                                  restored + ", checked",
                              "2: checked: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 2" +
                                  restored + ", checked",
                              "3: checked: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 3" +
                                  restored + ", checked",
                          }));
        QCOMPARE(text(w, "summaryLabel"), QStringLiteral("3 of 3 IDs given (1-3)"));
        QCOMPARE(text(w, "promptLabel"), QStringLiteral("Done."));
        QVERIFY(notices(w).isEmpty());
        // Each moved once: a baud-rate write each, an ID write each but the first's.
        QCOMPARE(writesOf(*h, 3), 2);
        QCOMPARE(writesOf(*h, 4), 3);
        QCOMPARE(writesOf(*h, 14), settingsFile ? 3 : 0);
        for (std::size_t k = 0; k < 3; ++k) {
            QCOMPARE(int(h->bus().device(k).id()), int(k) + 1);
            QCOMPARE(int(h->bus().device(k).code()), 1);
            QCOMPARE(h->bus().device(k).reg16(14), settingsFile ? 800 : 1023);
        }
        // The main window lists what the run left in the registry.
        // (Those unplugged are no longer listed.)
        QCOMPARE(h->treeTexts(), alone ? QStringList({"Baudrate 1", "  ID 3"})
                                       : QStringList({"Baudrate 1", "  ID 1", "  ID 2", "  ID 3"}));
        QVERIFY(h->window().view().isEnabled());
        QVERIFY(offered(*h, Command::Search));
        QVERIFY(h->ops().messages.isEmpty());
    }

    // Stop and closing the window between steps: the run ends after the actuator in hand,
    // the window goes only once its result is in, and the main window answers meanwhile and
    // lists the actuator that was done.
    void stopAndCloseEndTheRunBetweenSteps_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Stop") << QStringLiteral("stop");
        QTest::newRow("closing the window") << QStringLiteral("close");
        QTest::newRow("Exit of the main window") << QStringLiteral("exit");
    }
    void stopAndCloseEndTheRunBetweenSteps() {
        QFETCH(QString, how);
        auto h = startedOn({newcomer(34, 1, mvx::test::runS(3.0))});
        RobotSetupWindow& w = openWindow(*h);
        start(*h, w, QStringLiteral("1-3"));
        QVERIFY(waitForPrompt(w, QStringLiteral("Connect the next actuator (ID 2, 2 of 3)...")));
        QCOMPARE(rows(w).first(),
                 QStringLiteral("1: checked: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 1, "
                                "checked"));
        // The run holds the bus: the other bus commands and the device view are off.
        for (Command command : kBusCommands) {
            QVERIFY(!offered(*h, command));
        }
        QVERIFY(offered(*h, Command::Exit));
        QVERIFY(!h->window().view().isEnabled());

        if (how == QStringLiteral("close")) {
            w.close();
            QVERIFY2(w.isVisible(), "the window waits for the run's end");
        } else if (how == QStringLiteral("exit")) {
            h->window().runCommand(Command::Exit);
            QVERIFY(!h->window().isVisible());
        } else {
            QTest::mouseClick(child<QPushButton>(w, "stopButton"), Qt::LeftButton);
            QVERIFY(!child<QPushButton>(w, "stopButton")->isEnabled());
        }
        QCOMPARE(text(w, "promptLabel"), QStringLiteral("Stopping after the step in hand..."));
        h->settle();
        QVERIFY(!w.running());
        QCOMPARE(w.isVisible(), how == QStringLiteral("stop"));
        QCOMPARE(rows(w), QStringList({"1: checked: MQ-35 v30 found at code 34 ID 1 -> code 1 "
                                       "ID 1, checked",
                                       "2: not done", "3: not done"}));
        QCOMPARE(text(w, "summaryLabel"),
                 QStringLiteral("1 of 3 IDs given (1); not done: 2, 3; stopped"));
        QCOMPARE(int(h->bus().device(0).id()), 1);
        QCOMPARE(int(h->bus().device(0).code()), 1);
        if (how == QStringLiteral("exit")) {
            return;
        }
        for (Command command : kBusCommands) {
            QVERIFY(offered(*h, command));
        }
        QCOMPARE(h->treeTexts(), QStringList({"Baudrate 1", "  ID 1"}));
    }

    // The adapter lost during a run: the run ends, the loss is reported once as by every other
    // command, and the connection is closed.
    void aLostAdapterEndsTheRunAndClosesTheConnection() {
        auto h = startedOn({newcomer(34, 1, mvx::test::runS(3.0))});
        std::atomic<bool> unplugged{false};
        h->hooked.hook = [&unplugged](const std::string&) {
            return unplugged ? FT_IO_ERROR : FT_OK;
        };
        RobotSetupWindow& w = openWindow(*h);
        start(*h, w, QStringLiteral("1-2"));
        QVERIFY(waitForPrompt(w, QStringLiteral("Connect the next actuator (ID 2, 2 of 2)...")));
        unplugged = true;
        h->settle();
        QVERIFY(!w.running());
        QCOMPARE(h->ops().messages,
                 QStringList("USB2Movantrix access failed! \n\nPlease check connection."));
        QVERIFY(!h->busOpen());
        QVERIFY(offered(*h, Command::Open));
        QVERIFY(!offered(*h, Command::SetUpActuators));
        QVERIFY(h->window().view().isEnabled());
        QCOMPARE(rows(w).value(1), QStringLiteral("2: not done"));
        // Where things were left is named in the window.
        QVERIFY(!notices(w).isEmpty());
    }

    // Two new actuators at once: the trouble is shown and nothing is moved until one of them
    // is unplugged; the device that was there before is never touched.
    void twoNewActuatorsAtOnceMoveNothing() {
        auto h = startedOn({simSpec(1, 5, 12, 24), newcomer(34, 1, mvx::test::runS(3.0)),
                            newcomer(34, 2, mvx::test::runS(3.0), mvx::test::runS(10.0))});
        RobotSetupWindow& w = openWindow(*h);
        start(*h, w, QStringLiteral("2"));
        h->settle();
        QCOMPARE(notices(w).value(0),
                 QStringLiteral("On the bus already (never touched): LT-50+ v24 at code 1 ID 5"));
        QCOMPARE(notices(w).value(1),
                 QStringLiteral("Connect one new actuator at a time: new devices at code 34 ID 1 "
                                "and code 34 ID 2; nothing moved"));
        QCOMPARE(rows(w), QStringList({"2: checked: MQ-35 v30 found at code 34 ID 1 -> code 1 ID "
                                       "2, checked"}));
        QCOMPARE(int(h->bus().device(2).code()), 34);
        QCOMPARE(int(h->bus().device(2).id()), 2);
        QCOMPARE(int(h->bus().device(0).id()), 5);
        QVERIFY(!writes(*h).contains(qMakePair(5, 3)));
        QVERIFY(!writes(*h).contains(qMakePair(2, 3)));
    }

    // What is refused before a run: IDs that do not parse, a settings file that is not one;
    // nothing reaches the bus and no message blocks.
    void refusalsBeforeARun_data() {
        QTest::addColumn<QString>("ids");
        QTest::addColumn<QString>("file");  // "fifo": a FIFO in the file's place
        QTest::addColumn<QString>("message");
        const QString ids = QStringLiteral("IDs to give: ");
        const QString none;
        QTest::newRow("empty") << none << none << ids;
        QTest::newRow("backwards") << QStringLiteral("5-3") << none << ids;
        QTest::newRow("out of range") << QStringLiteral("1,254") << none << ids;
        QTest::newRow("twice") << QStringLiteral("1-3,2") << none << ids;
        QTest::newRow("settings file a FIFO")
            << QStringLiteral("1") << QStringLiteral("fifo")
            << QStringLiteral("Can not load the settings file!\n\n");
    }
    void refusalsBeforeARun() {
        QFETCH(QString, ids);
        QFETCH(QString, file);
        QFETCH(QString, message);
        auto h = startedOn({newcomer(34, 1, mvx::test::runS(3.0))});
        RobotSetupWindow& w = openWindow(*h);
        h->bus().clearTraffic();
        QTemporaryDir dir;
        if (file == QStringLiteral("fifo")) {
            const QString path = dir.filePath(QStringLiteral("fifo.json"));
            QCOMPARE(::mkfifo(path.toStdString().c_str(), 0600), 0);
            h->ops().fileAnswers.push_back(path);
            QTest::mouseClick(child<QPushButton>(w, "browseButton"), Qt::LeftButton);
            QCOMPARE(h->ops().messages.value(0), message + path + ": not a regular file");
            QVERIFY(child<QLineEdit>(w, "settingsEdit")->text().isEmpty());
            QVERIFY(!child<QCheckBox>(w, "networkCheck")->isEnabled());
            return;
        }
        start(*h, w, ids);
        h->settle();
        QVERIFY(!w.running());
        QCOMPARE(h->ops().messages.size(), 1);
        QVERIFY2(h->ops().messages[0].startsWith(message) &&
                     h->ops().messages[0].size() > message.size(),
                 qPrintable(h->ops().messages[0]));
        QVERIFY(h->hostPackets().empty());
        QCOMPARE(rows(w), QStringList());
    }

    // The three robot commands need an open adapter.
    void theRobotCommandsNeedAnOpenAdapter() {
        auto h = startedOn({});
        for (Command command :
             {Command::SetUpActuators, Command::SaveRobotProfile, Command::CheckRobot}) {
            QVERIFY(offered(*h, command));
        }
        h->command(Command::Close);
        for (Command command :
             {Command::SetUpActuators, Command::SaveRobotProfile, Command::CheckRobot}) {
            QVERIFY(!offered(*h, command));
        }
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::RobotSetupWindowTest)
#include "RobotSetupWindowTest.moc"
