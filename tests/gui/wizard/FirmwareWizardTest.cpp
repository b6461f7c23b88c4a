// The firmware update wizard as the user meets it from the Firmware Update command: the steps
// and their buttons, file choice and summary, the quit question, the download with devices
// that fail, go silent or lose the adapter, and a wizard that cannot be ended mid-download.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <stdexcept>

#include <sys/stat.h>

#include "firmware/FirmwareDownload.h"
#include "gui/app/Texts.h"
#include "gui/wizard/FirmwareWizard.h"
#include "sim/FirmwareFileWriter.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kSample = QStringLiteral(MVX_SAMPLES_DIR "/MQ-35_v31.mvx");
const QString kTitle = QStringLiteral("Movantrix Firmware Update Wizzard");
const QString kQuit = QStringLiteral("Are you sure to quit?");

FirmwareWizard& wizardOf(QDialog& d) {
    return static_cast<FirmwareWizard&>(d);
}

// The enabled buttons among Back, Next, Finish and Cancel, e.g. "Back Next Cancel".
QString buttons(QDialog& d) {
    QStringList on;
    for (const char* name : {"backButton", "nextButton", "finishButton", "cancelButton"}) {
        auto* button = d.findChild<QAbstractButton*>(QString::fromLatin1(name));
        if (button->isEnabled()) {
            on << button->text().remove('<').remove('>').trimmed();
        }
    }
    return on.join(' ');
}

QString text(QDialog& d, const char* name) {
    const QString objectName = QString::fromLatin1(name);
    if (auto* box = d.findChild<QPlainTextEdit*>(objectName)) {
        return box->toPlainText();
    }
    return d.findChild<QLabel*>(objectName)->text();
}

// Pressing Next until the wizard shows `step`, choosing `file` on the way.
void goTo(GuiHarness& h, QDialog& d, FirmwareWizard::Step step, const QString& file = kSample) {
    auto* next = d.findChild<QAbstractButton*>(QStringLiteral("nextButton"));
    while (wizardOf(d).currentStep() < step) {
        if (wizardOf(d).currentStep() == FirmwareWizard::ChooseFile) {
            h.ops().fileAnswers.push_back(file);
            GuiHarness::click(d, "searchButton");
        }
        if (!next->isEnabled()) {
            return;
        }
        GuiHarness::click(d, "nextButton");
    }
}

// Steps 1 to 4, then the results once the download has ended.
QString runToResults(GuiHarness& h, QDialog& d, const QString& file = kSample) {
    goTo(h, d, FirmwareWizard::Download, file);
    if (!waitFor([&] { return !wizardOf(d).downloading(); }, 60000)) {
        return QStringLiteral("download did not end");
    }
    GuiHarness::click(d, "nextButton");
    return text(d, "resultText");
}

QString writeFile(QTemporaryDir& dir, int model, int version) {
    const QString path = dir.filePath(QStringLiteral("m%1v%2.mvx").arg(model).arg(version));
    std::string error;
    const bool written = writeFirmwareFile(path.toStdString(), model, version,
                                           makeSimFirmwareImage(model, version, 300), error);
    return written ? path : error.c_str();
}

// The default bus with a second model-28 device (ID 5 at code 1, version 30).
BusDescription busWithTwoModel28() {
    BusDescription bus = SimulatedBus::defaultBus();
    bus.devices.push_back(bus.devices.front());
    bus.devices.back().id = 5;
    return bus;
}

}  // namespace

class FirmwareWizardTest : public QObject {
    Q_OBJECT

private slots:
    void sampleFileUpdatesTheDevice() {
        GuiHarness h;
        h.startSearched();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            QCOMPARE(d.windowTitle(), kTitle);
            QVERIFY(!(d.windowFlags() & Qt::WindowCloseButtonHint));
            QCOMPARE(h.app().busBusy.load(), 1);
            QCOMPARE(text(d, "stepTitle"),
                     QStringLiteral("Start Movantrix Firmware Update Wizzard"));
            QCOMPARE(buttons(d), QStringLiteral("Next Cancel"));
            GuiHarness::click(d, "nextButton");
            QCOMPARE(text(d, "pathLabel"), QStringLiteral("No file"));
            QCOMPARE(buttons(d), QStringLiteral("Back Cancel"));
            h.ops().fileAnswers.push_back(QString());  // cancelled: nothing changes
            GuiHarness::click(d, "searchButton");
            QCOMPARE(buttons(d), QStringLiteral("Back Cancel"));
            h.ops().fileAnswers.push_back(kSample);
            GuiHarness::click(d, "searchButton");
            QCOMPARE(h.ops().lastFilter, QStringLiteral("Movantrix Firmware Files (*.mvx)"));
            QCOMPARE(h.ops().lastSuffix, QStringLiteral("mvx"));
            QCOMPARE(text(d, "pathLabel"), kSample);
            QCOMPARE(buttons(d), QStringLiteral("Back Next Cancel"));
            GuiHarness::click(d, "nextButton");
            QCOMPARE(text(d, "summaryText"),
                     QStringLiteral("*** Firmware Information ***\n- Model number: 28\n"
                                    "- Version: 31\n- Image size: 4096 bytes\n\n"
                                    "*** Update List ***\n"
                                    "> Baud:1  ID:1 [Version: 30]\n- Total number: 1\n"));
            GuiHarness::clickOnly(d, "nextButton");
            QCOMPARE(buttons(d), QString());  // while the download runs
            QVERIFY(wizardOf(d).downloading());
            h.settle();
            QVERIFY(!wizardOf(d).downloading());
            QCOMPARE(text(d, "percentLabel"), QStringLiteral("100%"));
            QCOMPARE(buttons(d), QStringLiteral("Next"));
            GuiHarness::click(d, "nextButton");
            QCOMPARE(text(d, "resultText"), QStringLiteral("*** Update Result ***\n"
                                                           "- Baud:1 ID:1 >> Success\n"
                                                           "Total Success=1, Fail=0\n"));
            QCOMPARE(buttons(d), QStringLiteral("Finish"));
            GuiHarness::click(d, "finishButton");
            QVERIFY(!d.isVisible());
        }));
        h.command(Command::FirmwareUpdate);
        QCOMPARE(h.ops().dialogsRun.last(), kTitle);
        QCOMPARE(h.registry().find(1, 1)->firmwareVersion(), 31);
        QCOMPARE(h.app().busBusy.load(), 0);
        QVERIFY(h.ops().messages.isEmpty());
    }

    void wrongMagicShowsInvalidUntilAGoodFileIsChosen() {
        QTemporaryDir dir;
        const QString bad = dir.filePath(QStringLiteral("bad.mvx"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(64, '\x12'));
        file.close();
        GuiHarness h;
        h.startSearched();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            goTo(h, d, FirmwareWizard::Summary, bad);
            QCOMPARE(text(d, "summaryText"), QStringLiteral("Invalid Firmware File!"));
            QCOMPARE(buttons(d), QStringLiteral("Back Cancel"));
            GuiHarness::click(d, "backButton");
            QCOMPARE(text(d, "pathLabel"), bad);
            QCOMPARE(buttons(d), QStringLiteral("Back Next Cancel"));
            h.ops().fileAnswers.push_back(kSample);
            GuiHarness::click(d, "searchButton");
            GuiHarness::click(d, "nextButton");
            QVERIFY(text(d, "summaryText").endsWith(QStringLiteral("- Total number: 1\n")));
            QCOMPARE(buttons(d), QStringLiteral("Back Next Cancel"));
        }));
        h.command(Command::FirmwareUpdate);
    }

    // Only a regular file is read, and choosing something else never stalls the wizard: a
    // FIFO used to block the GUI thread until some other process wrote to it.
    void onlyARegularFileIsRead_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("summaryStart");
        QTest::newRow("FIFO") << "fifo"
                              << "Invalid Firmware File!";
        QTest::newRow("directory") << "directory"
                                   << "Invalid Firmware File!";
        QTest::newRow("device") << "device"
                                << "Invalid Firmware File!";
        QTest::newRow("name beyond ASCII") << "non-ASCII"
                                           << "*** Firmware Information ***";
    }

    void onlyARegularFileIsRead() {
        QFETCH(QString, kind);
        QFETCH(QString, summaryStart);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("fifo.mvx"));
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "directory") {
            path = dir.path();
        } else if (kind == "device") {
            path = QStringLiteral("/dev/zero");
        } else {
            path = dir.filePath(QStringLiteral("Motor-\u00e9\u00df-\u65b0.mvx"));
            QVERIFY(QFile::copy(kSample, path));
        }
        GuiHarness h;
        h.startSearched();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            goTo(h, d, FirmwareWizard::Summary, path);
            QVERIFY2(text(d, "summaryText").startsWith(summaryStart),
                     qPrintable(text(d, "summaryText")));
        }));
        h.command(Command::FirmwareUpdate);
    }

    // One run updates at most 256 devices; the summary says how many more there are.
    void devicesBeyondTheListAreCounted() {
        BusDescription bus = SimulatedBus::defaultBus();
        const SimDeviceSpec model28 = bus.devices.front();
        bus.devices.clear();
        for (int i = 0; i < 300; ++i) {
            bus.devices.push_back(model28);
            bus.devices.back().code = static_cast<std::uint8_t>(i < 200 ? 1 : 3);
            bus.devices.back().id = static_cast<std::uint8_t>(i % 200);
        }
        GuiHarness h(bus);
        h.startSearched();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            goTo(h, d, FirmwareWizard::Summary);
            QVERIFY2(text(d, "summaryText")
                         .endsWith(QStringLiteral("> Baud:3  ID:55 [Version: 30]\n"
                                                  "- Total number: 256\n"
                                                  "- Left out: 44 (at most 256 devices per "
                                                  "update)\n")),
                     qPrintable(text(d, "summaryText")));
        }));
        h.command(Command::FirmwareUpdate);
    }

    void oldVersionOnlyTogglesTheListAndIsCheckedOnEveryEntry() {
        QTemporaryDir dir;
        const QString sameVersion = writeFile(dir, 28, 30);
        GuiHarness h;
        h.startSearched();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            goTo(h, d, FirmwareWizard::Summary, sameVersion);
            auto* oldOnly = d.findChild<QCheckBox*>(QStringLiteral("oldVersionOnly"));
            const QString header = QStringLiteral(
                "*** Firmware Information ***\n- Model number: 28\n- Version: 30\n"
                "- Image size: 300 bytes\n\n*** Update List ***\n");
            QVERIFY(oldOnly->isChecked());
            QCOMPARE(text(d, "summaryText"), header + "- Total number: 0\n");
            QCOMPARE(buttons(d), QStringLiteral("Back Cancel"));
            oldOnly->click();
            h.settle();
            QCOMPARE(text(d, "summaryText"),
                     header + "> Baud:1  ID:1 [Version: 30]\n- Total number: 1\n");
            QCOMPARE(buttons(d), QStringLiteral("Back Next Cancel"));
            oldOnly->click();
            h.settle();
            QCOMPARE(text(d, "summaryText"), header + "- Total number: 0\n");
            oldOnly->click();
            h.settle();
            GuiHarness::click(d, "backButton");
            GuiHarness::click(d, "nextButton");
            QVERIFY(oldOnly->isChecked());
            QCOMPARE(text(d, "summaryText"), header + "- Total number: 0\n");
        }));
        h.command(Command::FirmwareUpdate);
    }

    void quitQuestionOnTheFirstThreeSteps_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("ok");
        QTest::newRow("start, Cancel, OK") << 0 << "cancel" << true;
        QTest::newRow("file, Cancel, Cancel") << 1 << "cancel" << false;
        QTest::newRow("file, Escape, OK") << 1 << "escape" << true;
        QTest::newRow("summary, close, Cancel") << 2 << "close" << false;
        QTest::newRow("summary, Cancel, OK") << 2 << "cancel" << true;
    }

    void quitQuestionOnTheFirstThreeSteps() {
        QFETCH(int, step);
        QFETCH(QString, how);
        QFETCH(bool, ok);
        GuiHarness h;
        h.startSearched();
        h.bus().clearTraffic();
        h.ops().answers.push_back(ok ? GuiOperations::Answer::Ok : GuiOperations::Answer::Cancel);
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            goTo(h, d, FirmwareWizard::Step(step));
            if (how == "cancel") {
                GuiHarness::click(d, "cancelButton");
            } else if (how == "escape") {
                QTest::keyClick(&d, Qt::Key_Escape);
            } else {
                d.close();
            }
            QCOMPARE(h.ops().messages, QStringList{kQuit});
            QCOMPARE(d.isVisible(), !ok);
            QCOMPARE(wizardOf(d).currentStep(), step);
        }));
        h.command(Command::FirmwareUpdate);
        QVERIFY(h.bus().traffic().empty());
        QCOMPARE(h.registry().find(1, 1)->firmwareVersion(), 30);
    }

    void refusedImageFailsAfterThreeAttempts() {
        GuiHarness h(busWithTwoModel28());
        h.startSearched();
        SimFaults refuse;
        refuse.rejectImages = 1000;
        h.bus().find(1, 1)->setFaults(refuse);
        h.bus().clearTraffic();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            QCOMPARE(runToResults(h, d), QStringLiteral("*** Update Result ***\n"
                                                        "- Baud:1 ID:1 >> Fail\n"
                                                        "- Baud:1 ID:5 >> Success\n"
                                                        "Total Success=1, Fail=1\n"));
        }));
        h.command(Command::FirmwareUpdate);
        int loaderOpens = 0;  // the single byte "L" that opens each loader attempt
        for (const SimTraffic& t : h.hostPackets()) {
            loaderOpens += t.bytes == std::vector<std::uint8_t>{0x4C};
        }
        QCOMPARE(loaderOpens, 3 + 1);
        QCOMPARE(h.registry().find(1, 1)->firmwareVersion(), 30);
        QCOMPARE(h.registry().find(1, 5)->firmwareVersion(), 31);
    }

    void silentDeviceEndsTheRunAfterTheReadinessWait() {
        GuiHarness h;
        h.startSearched();
        h.bus().find(1, 2)->setFaults(GuiHarness::silent());
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            QCOMPARE(runToResults(h, d), QStringLiteral("*** Update Result ***\n"
                                                        "- Baud:1 ID:1 >> Fail\n"
                                                        "Total Success=0, Fail=1\n"));
        }));
        h.command(Command::FirmwareUpdate);
        QCOMPARE(h.registry().find(1, 1)->firmwareVersion(), 30);
        QVERIFY(h.ops().messages.isEmpty());
    }

    void nothingEndsTheWizardDuringTheDownload() {
        GuiHarness h;
        h.startSearched();
        QPointer<QDialog> wizard;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            wizard = &d;
            goTo(h, d, FirmwareWizard::Download);
            QTest::keyClick(&d, Qt::Key_Escape);
            d.close();
            d.reject();
            QVERIFY(d.isVisible());
            QCOMPARE(wizardOf(d).currentStep(), int(FirmwareWizard::Download));
            h.ops().tickTimers();
            QVERIFY(text(d, "percentLabel").endsWith('%'));
            // Leaving now: the wizard is destroyed with the worker still running.
        }));
        h.command(Command::FirmwareUpdate);
        QVERIFY(wizard.isNull());
        QVERIFY(h.ops().messages.isEmpty());
        // The worker was joined, so its work is complete before the command returns.
        QCOMPARE(h.registry().find(1, 1)->firmwareVersion(), 31);
        QCOMPARE(DownloadProgress(h.registry()), 100);

        // On the result step only Finish ends it.
        QTemporaryDir dir;
        const QString newer = writeFile(dir, 28, 32);
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            QVERIFY(runToResults(h, d, newer).contains(QStringLiteral("Total Success=1")));
            QTest::keyClick(&d, Qt::Key_Escape);
            d.close();
            QVERIFY(d.isVisible());
            QVERIFY(h.ops().messages.isEmpty());
            GuiHarness::click(d, "finishButton");
            QVERIFY(!d.isVisible());
        }));
        h.command(Command::FirmwareUpdate);
    }

    // Needs the download engine's adapter-lost results (UpdateNotReached, result 101).
    void adapterLostDuringTheDownload() {
        GuiHarness h(busWithTwoModel28());
        h.startSearched();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            goTo(h, d, FirmwareWizard::Summary);
            h.bus().failAdapterFrom(1);
            QCOMPARE(runToResults(h, d),
                     QStringLiteral("*** Update Result ***\n"
                                    "- Baud:1 ID:1 >> Not updated\n"
                                    "- Baud:1 ID:5 >> Not updated\n"
                                    "Total Success=0, Fail=0, Not updated=2\n"));
            QCOMPARE(buttons(d), QStringLiteral("Finish"));
            GuiHarness::click(d, "finishButton");
        }));
        h.command(Command::FirmwareUpdate);
        QCOMPARE(h.ops().messages, QStringList{texts::kAdapterAccessFailed});
        QVERIFY(!h.busOpen());
        QCOMPARE(h.registry().deviceCount(), 0);
        QCOMPARE(h.registry().updates.count, 2);
    }

    // The download's job throws on the bus: the adapter message shows, the connection closes
    // and the wizard goes on to its end, where Finish closes it.
    void aDownloadThatThrowsLetsTheWizardClose() {
        GuiHarness h(busWithTwoModel28());
        h.startSearched();
        bool finished = false;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            goTo(h, d, FirmwareWizard::Summary);
            auto throws = std::make_shared<std::atomic<int>>(1);
            h.hooked.hook = [throws](const std::string&) -> FtStatus {
                if (throws->fetch_sub(1) > 0) {
                    throw std::runtime_error("unforeseen");
                }
                return FT_OK;
            };
            runToResults(h, d);
            h.hooked.hook = nullptr;
            QCOMPARE(buttons(d), QStringLiteral("Finish"));
            GuiHarness::click(d, "finishButton");
            finished = true;
        }));
        h.command(Command::FirmwareUpdate);
        QVERIFY(finished);
        QCOMPARE(h.ops().messages, QStringList{texts::kAdapterAccessFailed});
        QVERIFY(!h.busOpen());
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    // The adapter freezes (its port takes no more bytes) once the first device is in its
    // loader: the download ends at the loader write's deadline with the adapter message, and
    // the result step tells which device may still be in its loader.
    void frozenAdapterEndsTheDownloadWithTheAdapterMessage() {
        GuiHarness h(busWithTwoModel28());
        h.startSearched();
        h.hooked.hook = [&](const std::string&) {
            SimulatedDevice* inLoader = h.bus().find(34, 1);
            if (inLoader && inLoader->mode() == SimDeviceMode::Loader) {
                h.bus().setAdapterFrozen(true);
            }
            return FT_OK;
        };
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            QCOMPARE(runToResults(h, d),
                     QStringLiteral("*** Update Result ***\n"
                                    "- Baud:1 ID:1 >> Failed: may still be in its loader, power "
                                    "it off and on\n"
                                    "- Baud:1 ID:5 >> Not updated\n"
                                    "Total Success=0, Fail=1, Not updated=1\n"));
            GuiHarness::click(d, "finishButton");
        }));
        h.command(Command::FirmwareUpdate);
        QCOMPARE(h.ops().messages, QStringList{texts::kAdapterAccessFailed});
        QVERIFY(!h.busOpen());
    }

    // A sensor holds the MQ-35's ID at code 34, where the MQ-35 answers after its restart.
    void deviceWhoseIdIsInUseAtItsRestartCodeIsSkipped() {
        BusDescription bus = SimulatedBus::defaultBus();
        bus.devices.push_back(mvx::test::simSpec(34, 1, 13, 20));
        GuiHarness h(bus);
        h.startSearched();
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& d) {
            QCOMPARE(runToResults(h, d),
                     QStringLiteral("*** Update Result ***\n"
                                    "- Baud:1 ID:1 >> Skipped: ID in use at Baud:34\n"
                                    "Total Success=0, Fail=0, Not updated=1\n"));
            GuiHarness::click(d, "finishButton");
        }));
        h.command(Command::FirmwareUpdate);
        QVERIFY(h.ops().messages.isEmpty());
        QCOMPARE(h.bus().find(1, 1)->reg(2), std::uint8_t{30});
        QVERIFY(h.bus().find(34, 1) != nullptr);
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::FirmwareWizardTest)
#include "FirmwareWizardTest.moc"
