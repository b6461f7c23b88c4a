// movantrix-manager and movantrix-manager-sim from the shell: help, version, refused command
// lines, and the one-line answer when there is no display.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& args, bool withDisplay = true) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (withDisplay) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QString kManager = QStringLiteral(MANAGER_PATH);
const QString kManagerSim = QStringLiteral(MANAGER_SIM_PATH);

}  // namespace

class ProgramsTest : public QObject {
    Q_OBJECT

private slots:
    void commandLines_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");  // the start of stdout (status 0) or stderr
        QTest::newRow("help") << kManager << QStringList{"--help"} << 0
                              << "Usage: movantrix-manager [--bus-log FILE] [PORT]\n";
        QTest::newRow("version") << kManager << QStringList{"--version"} << 0
                                 << "movantrix-manager 0.";
        QTest::newRow("sim help") << kManagerSim << QStringList{"-h"} << 0
                                  << "Usage: movantrix-manager-sim [--bus-log FILE] [BUSFILE]\n";
        QTest::newRow("unknown option") << kManager << QStringList{"--full"} << 2
                                        << "movantrix-manager: unknown option: --full\n";
        QTest::newRow("two ports") << kManager << QStringList{"/dev/null", "/dev/zero"} << 2
                                   << "movantrix-manager: only one argument is taken";
        QTest::newRow("missing port") << kManager << QStringList{"/nonexistent/ttyUSB9"} << 2
                                      << "movantrix-manager: no such serial device: "
                                         "/nonexistent/ttyUSB9\n";
        // Character devices that are no terminal are refused like directories.
        for (const char* path : {"/etc", "/dev/null", "/dev/zero"}) {
            QTest::newRow(path)
                << kManager << QStringList{path} << 2
                << QStringLiteral("movantrix-manager: %1 is not a serial device\n").arg(path);
        }
        // A bus log that cannot be written is refused before anything starts, by both.
        QTest::newRow("bus log without file") << kManager << QStringList{"--bus-log"} << 2
                                              << "movantrix-manager: --bus-log needs a file\n";
        QTest::newRow("bus log on a directory")
            << kManagerSim << QStringList{"--bus-log", "/etc"} << 2
            << "movantrix-manager-sim: --bus-log: /etc: not a regular file\n";
        QTest::newRow("bus log in no folder")
            << kManager << QStringList{"--bus-log=/nonexistent/log.txt"} << 2
            << "movantrix-manager: --bus-log: /nonexistent/log.txt: No such file or directory\n";
        QTest::newRow("bus log on a device")
            << kManagerSim << QStringList{"--bus-log", "/dev/null"} << 2
            << "movantrix-manager-sim: --bus-log: /dev/null: not a regular file\n";
        QTest::newRow("bad bus file") << kManagerSim << QStringList{"/nonexistent.json"} << 2
                                      << "movantrix-manager-sim: cannot open bus description";
    }

    void commandLines() {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, output);
        const Run result = run(program, args);
        QCOMPARE(result.status, status);
        QVERIFY2((status == 0 ? result.out : result.err).startsWith(output),
                 qPrintable(result.out + result.err));
    }

    void withoutADisplayOneLineNamesTheHeadlessWay() {
        const Run result = run(kManagerSim, {}, false);
        QCOMPARE(result.status, 1);
        QCOMPARE(result.err.count('\n'), 1);
        QVERIFY(result.err.contains("no display"));
        QVERIFY(result.err.contains("movantrix-cli --port sim scan"));
        QVERIFY(result.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(ProgramsTest)
#include "ProgramsTest.moc"
