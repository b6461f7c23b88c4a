// placeholder
#include <QTest>
class RobotProfileCommandsTest : public QObject {
    Q_OBJECT
};
QTEST_MAIN(RobotProfileCommandsTest)
#include "RobotProfileCommandsTest.moc"
