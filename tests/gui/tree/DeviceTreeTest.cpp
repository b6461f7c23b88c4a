// The device tree over the device list of a registry filled from a simulated bus on a virtual
// clock: what the user sees (item texts, pictures, selection, tooltips) and the remembered
// device after rebuilds, clicks and arrow keys.
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <memory>
#include <vector>

#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "drivers/Clock.h"
#include "gui/tree/DeviceIcons.h"
#include "gui/tree/DeviceTree.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"
#include "support/SimRegistry.h"

namespace mvx::gui::test {
namespace {

using mvx::test::simSpec;

// Registered in this order, so code 34 is found before code 3.
const std::vector<SimDeviceSpec> kDevices = {
    simSpec(34, 8, 12, 24),     // actuator
    simSpec(34, 2, 13, 20),     // sensor module
    simSpec(3, 5, 116, 21, 0),  // answers pings only: unknown model
    simSpec(3, 1, 28, 30),      // actuator
};

BusDescription describe(const std::vector<SimDeviceSpec>& devices) {
    BusDescription description;
    description.devices = devices;
    return description;
}

struct Rig {
    explicit Rig(const std::vector<SimDeviceSpec>& devices)
        : bus(describe(devices), clock), driver(bus), registry(driver, clock) {}
    VirtualClock clock;
    SimulatedBus bus;
    SimDriver driver;
    DeviceRegistry registry;
};

QImage imageOf(const QIcon& icon, int size, QIcon::Mode mode = QIcon::Normal) {
    return icon.pixmap(QSize(size, size), 1.0, mode)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

QString path(int code, int id) {
    return QStringLiteral("Baudrate %1/ID %2").arg(code).arg(id);
}

}  // namespace

class DeviceTreeTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Rig> rig;
    std::unique_ptr<DeviceTree> tree;
    // The host's copy of the device list, which the tooltips read.
    std::vector<DeviceSummary> devices;

    // Takes the registry's list anew and rebuilds the tree from it.
    void rebuild(int wishedCode, int wishedId) {
        devices = rig->registry.snapshot();
        tree->rebuildTree(devices, wishedCode, wishedId);
    }
    void setUpTree(DeviceTree::Mode mode) {
        tree->setUp(mode);
        tree->setToolTipSource([this](int code, int id) -> const DeviceSummary* {
            for (const DeviceSummary& device : devices) {
                if (device.baudCode == code && device.id == id) {
                    return &device;
                }
            }
            return nullptr;
        });
        tree->resize(220, 320);
        tree->show();
        QVERIFY(QTest::qWaitForWindowExposed(tree.get()));
    }
    // "Baudrate 3" or "Baudrate 3/ID 5".
    QTreeWidgetItem* itemAt(const QString& itemPath) const {
        const QStringList parts = itemPath.split('/');
        for (int g = 0; g < tree->topLevelItemCount(); ++g) {
            QTreeWidgetItem* group = tree->topLevelItem(g);
            if (group->text(0) != parts[0]) {
                continue;
            }
            if (parts.size() == 1) {
                return group;
            }
            for (int c = 0; c < group->childCount(); ++c) {
                if (group->child(c)->text(0) == parts[1]) {
                    return group->child(c);
                }
            }
        }
        return nullptr;
    }
    QString selectedPath() const {
        const QList<QTreeWidgetItem*> selected = tree->selectedItems();
        if (selected.size() != 1 || selected[0]->parent() == nullptr) {
            return QStringLiteral("%1 selected").arg(selected.size());
        }
        return selected[0]->parent()->text(0) + '/' + selected[0]->text(0);
    }
    QString remembered() const { return path(tree->rememberedCode(), tree->rememberedId()); }
    QPoint centreOf(const QString& itemPath) const {
        return tree->visualItemRect(itemAt(itemPath)).center();
    }
    bool allGroupsExpanded() const {
        for (int g = 0; g < tree->topLevelItemCount(); ++g) {
            if (!tree->topLevelItem(g)->isExpanded()) {
                return false;
            }
        }
        return true;
    }

private slots:
    void init() {
        rig = std::make_unique<Rig>(kDevices);
        QVERIFY(rig->registry.bus().open(0));
        for (const SimDeviceSpec& device : kDevices) {
            QCOMPARE(rig->registry.appendPlaceholder()->probe(device.code, device.id), 100);
        }
        tree = std::make_unique<DeviceTree>();
    }
    void cleanup() {
        tree.reset();
        rig.reset();
    }

    void groupsAscendingWithTextsAndPictures() {
        setUpTree(DeviceTree::Browse);
        rebuild(-1, -1);
        struct Row {
            const char* group;
            const char* item;
            ModelClass modelClass;
        };
        const Row expected[] = {{"Baudrate 3", "ID 5", UnknownModel},
                                {"Baudrate 3", "ID 1", Actuator},
                                {"Baudrate 34", "ID 8", Actuator},
                                {"Baudrate 34", "ID 2", Sensor}};
        QStringList seen;
        for (int g = 0; g < tree->topLevelItemCount(); ++g) {
            const QTreeWidgetItem* group = tree->topLevelItem(g);
            QVERIFY(group->isExpanded());
            QVERIFY(!(group->flags() & Qt::ItemIsSelectable));
            QCOMPARE(imageOf(group->icon(0), 16), imageOf(groupIcon(), 16));
            QCOMPARE(group->data(0, PictureRole).toInt(), int{GroupPicture});
            for (int c = 0; c < group->childCount(); ++c) {
                seen << group->text(0) + '/' + group->child(c)->text(0);
            }
        }
        QCOMPARE(seen.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const Row& row = expected[i];
            QCOMPARE(seen[i], QString::fromLatin1(row.group) + '/' + row.item);
            const QTreeWidgetItem* item = itemAt(seen[i]);
            QCOMPARE(imageOf(item->icon(0), 16), imageOf(deviceIcon(row.modelClass), 16));
            QCOMPARE(imageOf(item->icon(0), 16, QIcon::Selected), imageOf(item->icon(0), 16));
            QCOMPARE(item->data(0, PictureRole).toInt(), int{pictureOf(row.modelClass)});
        }
        QVERIFY(tree->isHeaderHidden());
        QVERIFY(!tree->rootIsDecorated());
    }

    void emptyRegistryGivesEmptyTree() {
        setUpTree(DeviceTree::Browse);
        rebuild(3, 1);
        QCOMPARE(remembered(), path(3, 1));
        rig->registry.clear();
        rebuild(3, 1);
        QCOMPARE(tree->topLevelItemCount(), 0);
        QCOMPARE(tree->rememberedCode(), -1);
        QCOMPARE(tree->rememberedId(), -1);
    }

    void selectionAfterRebuild_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("wishedCode");
        QTest::addColumn<int>("wishedId");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("pair");
        const QString none = QStringLiteral("0 selected");
        QTest::newRow("wished") << 0 << 34 << 2 << path(34, 2) << path(34, 2);
        QTest::newRow("missing wish") << 0 << 34 << 5 << path(3, 5) << path(3, 5);
        QTest::newRow("no wish") << 0 << -1 << -1 << path(3, 5) << path(3, 5);
        QTest::newRow("display") << 1 << 34 << 2 << none << path(-1, -1);
    }
    void selectionAfterRebuild() {
        QFETCH(int, mode);
        QFETCH(int, wishedCode);
        QFETCH(int, wishedId);
        setUpTree(static_cast<DeviceTree::Mode>(mode));
        QSignalSpy changed(tree.get(), &DeviceTree::deviceSelectionChanged);
        rebuild(wishedCode, wishedId);
        QTEST(selectedPath(), "selected");
        QTEST(remembered(), "pair");
        QCOMPARE(changed.size(), mode == DeviceTree::Browse ? 1 : 0);
        QCOMPARE(tree->topLevelItemCount(), 2);
        QVERIFY(allGroupsExpanded());
    }

    void mouse_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<QString>("target");  // empty: below the last item
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("signals");
        const QString start = path(3, 5);
        QTest::newRow("left on group")
            << int{Qt::LeftButton} << 0 << false << "Baudrate 34" << start << 0;
        QTest::newRow("right on group")
            << int{Qt::RightButton} << 0 << false << "Baudrate 3" << start << 0;
        QTest::newRow("middle on group")
            << int{Qt::MiddleButton} << 0 << false << "Baudrate 3" << start << 0;
        QTest::newRow("double on group")
            << int{Qt::LeftButton} << 0 << true << "Baudrate 3" << start << 0;
        QTest::newRow("double on device")
            << int{Qt::LeftButton} << 0 << true << start << start << 0;
        QTest::newRow("left on device")
            << int{Qt::LeftButton} << 0 << false << path(34, 2) << path(34, 2) << 1;
        QTest::newRow("right on device")
            << int{Qt::RightButton} << 0 << false << path(3, 1) << path(3, 1) << 1;
        QTest::newRow("ctrl+left on selected device")
            << int{Qt::LeftButton} << int{Qt::ControlModifier} << false << start << start << 0;
        QTest::newRow("empty space")
            << int{Qt::LeftButton} << 0 << false << QString() << start << 0;
    }
    void mouse() {
        QFETCH(int, button);
        QFETCH(int, modifiers);
        QFETCH(bool, doubleClick);
        QFETCH(QString, target);
        QFETCH(QString, selected);
        setUpTree(DeviceTree::Browse);
        rebuild(-1, -1);
        QSignalSpy changed(tree.get(), &DeviceTree::deviceSelectionChanged);
        const QPoint at =
            target.isEmpty() ? QPoint(10, tree->viewport()->height() - 5) : centreOf(target);
        QVERIFY(target.isEmpty() ? tree->itemAt(at) == nullptr : tree->itemAt(at) != nullptr);
        const auto mouseButton = static_cast<Qt::MouseButton>(button);
        const auto keys = static_cast<Qt::KeyboardModifiers>(modifiers);
        if (doubleClick) {
            QTest::mouseDClick(tree->viewport(), mouseButton, keys, at);
        } else {
            QTest::mouseClick(tree->viewport(), mouseButton, keys, at);
        }
        QCOMPARE(selectedPath(), selected);
        QCOMPARE(remembered(), selected);
        QTEST(static_cast<int>(changed.size()), "signals");
        QVERIFY(allGroupsExpanded());
    }

    void arrowKeysSelectAndRemember() {
        setUpTree(DeviceTree::Browse);
        rebuild(-1, -1);
        QSignalSpy changed(tree.get(), &DeviceTree::deviceSelectionChanged);
        struct Step {
            Qt::Key key;
            QString selected;
        };
        const Step steps[] = {
            {Qt::Key_Down, path(3, 1)}, {Qt::Key_Down, path(34, 8)}, {Qt::Key_Up, path(3, 1)},
            {Qt::Key_Up, path(3, 5)},   {Qt::Key_Up, path(3, 5)},    {Qt::Key_Left, path(3, 5)},
            {Qt::Key_End, path(34, 2)}, {Qt::Key_Home, path(3, 5)},  {Qt::Key_Minus, path(3, 5)}};
        int changes = 0;
        QString before = path(3, 5);
        for (const Step& step : steps) {
            QTest::keyClick(tree.get(), step.key);
            QCOMPARE(selectedPath(), step.selected);
            QCOMPARE(remembered(), step.selected);
            changes += step.selected != before ? 1 : 0;
            before = step.selected;
            QCOMPARE(static_cast<int>(changed.size()), changes);
        }
        QVERIFY(allGroupsExpanded());
    }

    void displayModeNeverSelects() {
        setUpTree(DeviceTree::Display);
        rebuild(3, 1);
        QSignalSpy changed(tree.get(), &DeviceTree::deviceSelectionChanged);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centreOf(path(3, 1)));
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centreOf("Baudrate 3"));
        QTest::keyClick(tree.get(), Qt::Key_Down);
        QCOMPARE(selectedPath(), QStringLiteral("0 selected"));
        QCOMPARE(remembered(), path(-1, -1));
        QCOMPARE(changed.size(), 0);
        QVERIFY(allGroupsExpanded());
        const QPoint at = centreOf(path(34, 8));
        QHelpEvent help(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(tree->viewport(), &help);
        QVERIFY(QToolTip::text().isEmpty());
    }

    void toolTips() {
        setUpTree(DeviceTree::Browse);
        rebuild(-1, -1);
        const QString actuator =
            QStringLiteral("Type: Actuator \nName: %1 \nNumber: 12 \nVersion: 24")
                .arg(QString::fromLatin1(displayName(12)));
        QCOMPARE(tree->deviceToolTip(itemAt(path(34, 8))), actuator);
        QCOMPARE(tree->deviceToolTip(itemAt(path(34, 2))),
                 QStringLiteral("Type: Sensor \nName: %1 \nNumber: 13 \nVersion: 20")
                     .arg(QString::fromLatin1(displayName(13))));
        QCOMPARE(tree->deviceToolTip(itemAt(path(3, 5))),
                 QStringLiteral("Type: Unknown \nName: Unknown \nNumber: 255 \nVersion: 0"));
        QCOMPARE(tree->deviceToolTip(itemAt("Baudrate 3")), QString());
        QCOMPARE(tree->deviceToolTip(nullptr), QString());
        QVERIFY(rig->registry.removeAt(rig->registry.indexOf(3, 1)));
        devices = rig->registry.snapshot();  // the host's copy follows the registry
        QCOMPARE(tree->deviceToolTip(itemAt(path(3, 1))), QString());

        // Hovering shows the same text.
        const QPoint at = centreOf(path(34, 8));
        QHelpEvent help(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(tree->viewport(), &help);
        QCOMPARE(QToolTip::text(), actuator);
    }

    void iconsRender_data() {
        QTest::addColumn<QIcon>("icon");
        QTest::addColumn<int>("size");
        const std::pair<const char*, QIcon> icons[] = {{"group", groupIcon()},
                                                       {"actuator", deviceIcon(Actuator)},
                                                       {"sensor", deviceIcon(Sensor)},
                                                       {"unknown", deviceIcon(UnknownModel)},
                                                       {"application", applicationIcon()}};
        for (const auto& [name, icon] : icons) {
            for (int size : {16, 32}) {
                QTest::addRow("%s %d", name, size) << icon << size;
            }
        }
    }
    void iconsRender() {
        QFETCH(QIcon, icon);
        QFETCH(int, size);
        const QImage image = imageOf(icon, size);
        QCOMPARE(image.size(), QSize(size, size));
        int opaque = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                opaque += qAlpha(image.pixel(x, y)) >= 128 ? 1 : 0;
            }
        }
        QVERIFY2(opaque >= size * size / 5, qPrintable(QString::number(opaque)));
    }

    void treePicturesDiffer() {
        const QImage pictures[] = {imageOf(groupIcon(), 16), imageOf(deviceIcon(Actuator), 16),
                                   imageOf(deviceIcon(Sensor), 16),
                                   imageOf(deviceIcon(UnknownModel), 16)};
        for (int a = 0; a < 4; ++a) {
            for (int b = a + 1; b < 4; ++b) {
                QVERIFY2(pictures[a] != pictures[b],
                         qPrintable(QStringLiteral("%1 %2").arg(a).arg(b)));
            }
        }
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::DeviceTreeTest)
#include "DeviceTreeTest.moc"
