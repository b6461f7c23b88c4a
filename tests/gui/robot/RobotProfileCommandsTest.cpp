// "Save Robot Profile..." and "Check Robot..." as the user meets them, over the simulated bus:
// the file the save writes, the check's table with every row kind, Apply Settings and Adopt
// (with the confirmation accepted and declined, and when the rule does not hold), and the
// refusal of files that are not profiles.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <set>

#include "RobotGuiSupport.h"
#include "gui/robot/RobotCheckDialog.h"
#include "robot/RobotProfile.h"
#include "support/ExecutorGate.h"

namespace mvx::gui::test {

namespace {

using Writes = QList<QPair<int, int>>;

const QString kProfileFilter = QStringLiteral("Movantrix Robot Profile (*.json)");

// Joints 1-3 (MQ-35, joint 2 with max torque 800) and a sensor.
std::vector<SimDeviceSpec> arm() {
    return {simSpec(1, 1, 28), simSpec(1, 2, 28, 30, 2, {{14, 800}}), simSpec(1, 3, 28),
            simSpec(34, 100, 13, 20)};
}

// Saves the profile of a bus of `devices` to `path` through the menu.
void saveProfile(std::vector<SimDeviceSpec> devices, const QString& path) {
    auto h = startedOn(std::move(devices));
    h->ops().saveAnswers.push_back(path);
    h->dialogs().push_back(GuiHarness::handler([&h](QDialog& dialog) {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Save Robot Profile"));
        h->settle();
    }));
    h->command(Command::SaveRobotProfile);
    QCOMPARE(h->ops().messages, QStringList());
}

// The check table as "kind | in the profile | on the bus | differences".
QStringList table(QDialog& dialog) {
    auto* t = dialog.findChild<QTableWidget*>(QStringLiteral("checkTable"));
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < t->columnCount(); ++c) {
            cells << t->item(r, c)->text();
        }
        out << cells.join(QStringLiteral(" | "));
    }
    return out;
}

QAbstractButton* button(QDialog& dialog, const char* name) {
    return dialog.findChild<QAbstractButton*>(QString::fromLatin1(name));
}

QString label(QDialog& dialog, const char* name) {
    return dialog.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

// Opens Check Robot on `path`; `body` works the dialog once its first check is in.
void check(GuiHarness& h, const QString& path, std::function<void(QDialog&)> body) {
    h.ops().fileAnswers.push_back(path);
    h.dialogs().push_back(GuiHarness::handler([&h, body](QDialog& dialog) {
        h.settle();
        QVERIFY(!static_cast<RobotCheckDialog&>(dialog).working());
        body(dialog);
    }));
    h.command(Command::CheckRobot);
    QCOMPARE(h.ops().dialogsRun.last(), QStringLiteral("Check Robot"));
}

struct ProfileFile {
    ProfileFile(std::vector<SimDeviceSpec> devices) { saveProfile(std::move(devices), path); }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("arm.json"));
};

}  // namespace

class RobotProfileCommandsTest : public QObject {
    Q_OBJECT

private slots:
    // The file holds every device found, with the actuators' settings, and reads back.
    void saveWritesAProfileTheReaderTakes() {
        ProfileFile file(arm());
        RobotProfile profile;
        std::string error;
        QVERIFY2(readProfileFile(file.path.toStdString(), profile, error), error.c_str());
        QCOMPARE(profile.devices.size(), std::size_t(4));
        QCOMPARE(profile.codes, std::vector<int>({1, 34, 3, 4, 7, 9, 16, 103, 207}));
        QCOMPARE(profile.devices[1].at, (DeviceAddress{1, 2}));
        QCOMPARE(profile.devices[1].settings->find(Setting::MaxTorque)->value, 800);
        QCOMPARE(profile.devices[3].modelNumber, 13);
        QVERIFY(!profile.devices[3].settings.has_value());
    }

    // A FIFO or a device node in the file's place (the Save As dialog's "replace?" answered
    // Yes) is refused before the bus is touched; it stays what it was.
    void saveRefusesWhatIsNotARegularFile_data() {
        QTest::addColumn<QString>("path");  // empty: a FIFO made for the test
        QTest::newRow("fifo") << QString();
        QTest::newRow("device node") << QStringLiteral("/dev/null");
    }

    void saveRefusesWhatIsNotARegularFile() {
        QFETCH(QString, path);
        auto h = startedOn(arm());
        QTemporaryDir dir;
        if (path.isEmpty()) {
            path = dir.filePath(QStringLiteral("fifo.json"));
            QCOMPARE(::mkfifo(path.toStdString().c_str(), 0600), 0);
        }
        h->ops().saveAnswers.push_back(path);
        h->command(Command::SaveRobotProfile);
        QCOMPARE(h->ops().lastFilter, kProfileFilter);
        QCOMPARE(h->ops().messages, QStringList("Can not save the robot profile!\n\n" + path +
                                                ": not a regular file"));
        QVERIFY(!h->ops().dialogsRun.contains(QStringLiteral("Save Robot Profile")));
        QVERIFY(h->hostPackets().empty());
    }

    // A survey stopped before it covered the bus (Stop in Save Robot Profile, Close while
    // Check Robot checks again) leaves the main window's device list as it was, and saves
    // nothing.
    void aStoppedSurveyLeavesTheListAsItWas_data() {
        QTest::addColumn<bool>("checking");
        QTest::newRow("save, stopped") << false;
        QTest::newRow("check again, closed") << true;
    }

    void aStoppedSurveyLeavesTheListAsItWas() {
        QFETCH(bool, checking);
        ProfileFile file(arm());
        GuiHarness h(busOf(arm()));
        h.startSearched();
        h.clickDevice(1, 3);
        const QStringList before = h.treeTexts();
        QCOMPARE(before.size(), 6);
        const QString count = h.countText();
        std::optional<ExecutorGate> gate;
        if (checking) {
            check(h, file.path, [&h, &gate](QDialog& dialog) {
                gate.emplace(h.app().executor());
                GuiHarness::clickOnly(dialog, "checkAgainButton");
                GuiHarness::clickOnly(dialog, "closeButton");
                gate.reset();
                h.settle();
            });
        } else {
            const QString path = file.dir.filePath(QStringLiteral("stopped.json"));
            h.ops().saveAnswers.push_back(path);
            h.dialogs().push_back(GuiHarness::handler([&h, &gate](QDialog& dialog) {
                GuiHarness::clickOnly(dialog, "stopButton");
                gate.reset();
                h.settle();
            }));
            gate.emplace(h.app().executor());
            h.command(Command::SaveRobotProfile);
            QVERIFY(!QFile::exists(path));
        }
        QCOMPARE(h.ops().messages, QStringList());
        QCOMPARE(h.treeTexts(), before);
        QCOMPARE(h.countText(), count);
        QCOMPARE(h.tabTitles(),
                 (QStringList{"Operation", "Configure", "Network", "Control Table"}));
    }

    // One bus with a device of every row kind: one row each, with its words, its picture and
    // its colour; Apply and Adopt are off (no row differs in settings alone, two missing).
    void theCheckShowsEveryRowKind() {
        ProfileFile file({simSpec(1, 1, 28), simSpec(1, 2, 28), simSpec(1, 3, 12, 24),
                          simSpec(1, 4, 28), simSpec(1, 5, 28), simSpec(1, 6, 28)});
        auto h = startedOn({
            simSpec(1, 1, 28),                              // as it was
            simSpec(1, 9, 12, 24),                          // the LT-50+ of ID 3, now at ID 9
            simSpec(1, 4, 64, 35),                          // an MQ-75 where the MQ-35 was
            simSpec(1, 5, 28, 31),                          // a newer firmware
            simSpec(1, 6, 28, 30, 2, {{14, 800}, {5, 0}}),  // two settings changed
            simSpec(34, 100, 13, 20),                       // a sensor nobody expected
        });
        check(*h, file.path, [](QDialog& dialog) {
            QCOMPARE(table(dialog),
                     QStringList({
                         "ok | code 1 ID 1: MQ-35 v30 | code 1 ID 1: MQ-35 v30 | ",
                         "missing | code 1 ID 2: MQ-35 v30 | - | ",
                         "moved | code 1 ID 3: LT-50+ v24 | code 1 ID 9: LT-50+ v24 | now at "
                         "code 1 ID 9",
                         "other model | code 1 ID 4: MQ-35 v30 | code 1 ID 4: MQ-75 v35 | MQ-75 "
                         "(64) v35 there",
                         "firmware differs | code 1 ID 5: MQ-35 v30 | code 1 ID 5: MQ-35 v31 | "
                         "firmware v31 on the bus, v30 in the profile",
                         "settings differ | code 1 ID 6: MQ-35 v30 | code 1 ID 6: MQ-35 v30 | "
                         "max-torque 800 on the bus, 1023 in the profile; return-delay 0 on the "
                         "bus, 250 in the profile",
                         "unexpected | - | code 34 ID 100: LT-P1 v20 | ",
                     }));
            // One picture and one colour per kind, each kind its own.
            auto* t = dialog.findChild<QTableWidget*>(QStringLiteral("checkTable"));
            std::vector<QImage> icons;
            std::set<QRgb> colours;
            for (int r = 0; r < t->rowCount(); ++r) {
                QVERIFY(!t->item(r, 0)->icon().isNull());
                const QImage icon = t->item(r, 0)->icon().pixmap(16).toImage();
                QVERIFY(std::find(icons.begin(), icons.end(), icon) == icons.end());
                icons.push_back(icon);
                const QRgb colour = t->item(r, 0)->background().color().rgb();
                QCOMPARE(t->item(r, 3)->background().color().rgb(), colour);
                colours.insert(colour);
            }
            QCOMPARE(icons.size(), std::size_t(7));
            QCOMPARE(colours.size(), std::size_t(7));
            QCOMPARE(label(dialog, "summaryLabel"),
                     QStringLiteral("6 of 7 rows differ from the profile."));
            QVERIFY(button(dialog, "applyButton")->isEnabled());
            QVERIFY(!button(dialog, "adoptButton")->isEnabled());
        });
    }

    // Apply writes only what differs (max torque of joint 2; the return delay with the box
    // ticked), then checks again.
    void applyWritesOnlyTheDifferencesThenChecksAgain_data() {
        QTest::addColumn<bool>("network");
        QTest::addColumn<Writes>("written");
        QTest::addColumn<int>("differAfter");
        QTest::newRow("settings") << false << Writes{{2, 14}} << 1;
        QTest::newRow("with return delay and level") << true << Writes{{2, 5}, {2, 14}} << 0;
    }
    void applyWritesOnlyTheDifferencesThenChecksAgain() {
        QFETCH(bool, network);
        QFETCH(Writes, written);
        QFETCH(int, differAfter);
        ProfileFile file(arm());
        auto h = startedOn({simSpec(1, 1, 28), simSpec(1, 2, 28, 30, 2, {{5, 0}}),
                            simSpec(1, 3, 28), simSpec(34, 100, 13, 20)});
        check(*h, file.path, [&](QDialog& dialog) {
            QVERIFY(button(dialog, "applyButton")->isEnabled());
            if (network) {
                button(dialog, "networkCheck")->click();
            }
            h->bus().clearTraffic();
            GuiHarness::click(dialog, "applyButton");
            Writes wrote = writes(*h);
            std::sort(wrote.begin(), wrote.end());
            QCOMPARE(wrote, written);
            QCOMPARE(h->bus().find(1, 2)->reg16(14), 800);
            QCOMPARE(label(dialog, "statusLabel"),
                     QStringLiteral("Settings written to 1 of 1 devices."));
            QCOMPARE(label(dialog, "summaryLabel"),
                     differAfter == 0 ? QStringLiteral("Every device is as in the profile.")
                                      : QStringLiteral("1 of 4 rows differ from the profile."));
            QCOMPARE(table(dialog).value(1).section(QStringLiteral(" | "), 0, 0),
                     differAfter == 0 ? QStringLiteral("ok") : QStringLiteral("settings differ"));
            QCOMPARE(h->ops().messages, QStringList());
        });
        // The main window lists what the last check found.
        QCOMPARE(h->treeTexts(), QStringList({"Baudrate 1", "  ID 1", "  ID 2", "  ID 3",
                                              "Baudrate 34", "  ID 100"}));
    }

    // The adapter lost while Apply writes: the dialog ends, the loss is reported once and the
    // connection is closed.
    void aLostAdapterEndsTheCheckAndClosesTheConnection() {
        ProfileFile file(arm());
        auto h = startedOn(
            {simSpec(1, 1, 28), simSpec(1, 2, 28), simSpec(1, 3, 28), simSpec(34, 100, 13, 20)});
        std::atomic<bool> unplugged{false};
        h->hooked.hook = [&unplugged](const std::string&) {
            return unplugged ? FT_IO_ERROR : FT_OK;
        };
        check(*h, file.path, [&](QDialog& dialog) {
            unplugged = true;
            GuiHarness::click(dialog, "applyButton");
            QVERIFY(!dialog.isVisible());
        });
        QCOMPARE(h->ops().messages,
                 QStringList("USB2Movantrix access failed! \n\nPlease check connection."));
        QVERIFY(!h->busOpen());
        QVERIFY(offered(*h, Command::Open));
    }

    // One joint missing, one newcomer of its model: Adopt asks, naming both addresses; on OK
    // the newcomer takes the joint's address and settings and the table is all ok; on Cancel
    // nothing is written.
    void adoptAsksThenGivesTheNewcomerTheJointsPlace_data() {
        QTest::addColumn<bool>("accepted");
        QTest::newRow("accepted") << true;
        QTest::newRow("declined") << false;
    }
    void adoptAsksThenGivesTheNewcomerTheJointsPlace() {
        QFETCH(bool, accepted);
        ProfileFile file(arm());
        auto h = startedOn(
            {simSpec(1, 1, 28), simSpec(34, 1, 28), simSpec(1, 3, 28), simSpec(34, 100, 13, 20)});
        check(*h, file.path, [&](QDialog& dialog) {
            QVERIFY(button(dialog, "adoptButton")->isEnabled());
            h->bus().clearTraffic();
            h->ops().answers.push_back(accepted ? GuiOperations::Answer::Ok
                                                : GuiOperations::Answer::Cancel);
            GuiHarness::click(dialog, "adoptButton");
            QCOMPARE(h->ops().messages,
                     QStringList("Move the MQ-35 at code 34 ID 1 to code 1 ID 2 and give it the "
                                 "settings of the missing joint?"));
            if (!accepted) {
                QVERIFY(writes(*h).isEmpty());
                QVERIFY(h->hostPackets().empty());
                QVERIFY(button(dialog, "adoptButton")->isEnabled());
                return;
            }
            QVERIFY(h->bus().find(34, 1) == nullptr);
            QCOMPARE(h->bus().find(1, 2)->reg16(14), 800);
            QCOMPARE(label(dialog, "statusLabel"),
                     QStringLiteral("code 34 ID 1 -> code 1 ID 2: MQ-35 v30 takes the place of "
                                    "the missing one, 1 setting restored, checked: ok"));
            QCOMPARE(label(dialog, "summaryLabel"),
                     QStringLiteral("Every device is as in the profile."));
            QVERIFY(!button(dialog, "adoptButton")->isEnabled());
        });
    }

    // Adopt is off when the rule does not hold, and says why.
    void adoptIsOffWhenTheRuleDoesNotHold_data() {
        QTest::addColumn<std::vector<SimDeviceSpec>>("bus");
        QTest::addColumn<QString>("reason");
        QTest::newRow("nothing missing")
            << arm() << QStringLiteral("no device of the profile is missing; nothing written");
        QTest::newRow("two newcomers")
            << std::vector<SimDeviceSpec>{simSpec(1, 1, 28), simSpec(1, 3, 28),
                                          simSpec(34, 100, 13, 20), simSpec(34, 1, 28),
                                          simSpec(34, 2, 28)}
            << QStringLiteral(
                   "2 devices on the bus are not in the profile (code 34 ID 1, code 34 "
                   "ID 2): connect only the one that takes the place of code 1 ID 2; "
                   "nothing written");
        QTest::newRow("another model")
            << std::vector<SimDeviceSpec>{simSpec(1, 1, 28), simSpec(1, 3, 28),
                                          simSpec(34, 100, 13, 20), simSpec(34, 1, 64)}
            << QStringLiteral(
                   "the newcomer at code 34 ID 1 is MQ-75 (64), the missing device at "
                   "code 1 ID 2 was MQ-35 (28); nothing written");
    }
    void adoptIsOffWhenTheRuleDoesNotHold() {
        QFETCH(std::vector<SimDeviceSpec>, bus);
        QFETCH(QString, reason);
        ProfileFile file(arm());
        auto h = startedOn(bus);
        check(*h, file.path, [&](QDialog& dialog) {
            QVERIFY(!button(dialog, "adoptButton")->isEnabled());
            QCOMPARE(button(dialog, "adoptButton")->toolTip(), reason);
        });
        QVERIFY(writes(*h).isEmpty());
    }

    // Files that are not profiles are refused with the reader's words; nothing reaches the bus.
    void checkRefusesWhatIsNotAProfile_data() {
        QTest::addColumn<QString>("content");  // empty: a FIFO
        QTest::addColumn<QString>("reason");
        QTest::newRow("fifo") << QString() << QStringLiteral("not a regular file");
        QTest::newRow("settings file")
            << QStringLiteral("{\"format\": \"movantrix-settings\"}") << QString();
        QTest::newRow("not JSON") << QStringLiteral("{") << QString();
    }
    void checkRefusesWhatIsNotAProfile() {
        QFETCH(QString, content);
        QFETCH(QString, reason);
        auto h = startedOn(arm());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("robot.json"));
        if (content.isEmpty()) {
            QCOMPARE(::mkfifo(path.toStdString().c_str(), 0600), 0);
        } else {
            std::ofstream(path.toStdString()) << content.toStdString();
        }
        h->bus().clearTraffic();
        h->ops().fileAnswers.push_back(path);
        h->command(Command::CheckRobot);
        QCOMPARE(h->ops().lastFilter, kProfileFilter);
        QCOMPARE(h->ops().messages.size(), 1);
        const QString prefix = "Can not load the robot profile!\n\n" + path + ": ";
        QVERIFY2(h->ops().messages[0].startsWith(prefix), qPrintable(h->ops().messages[0]));
        if (!reason.isEmpty()) {
            QCOMPARE(h->ops().messages[0], prefix + reason);
        }
        QVERIFY(!h->ops().dialogsRun.contains(QStringLiteral("Check Robot")));
        QVERIFY(h->hostPackets().empty());
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::RobotProfileCommandsTest)
#include "RobotProfileCommandsTest.moc"
