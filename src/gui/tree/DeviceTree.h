// A device list as a two-level tree: one group per baud-rate code ("Baudrate %d"), one item per
// device ID under it ("ID %d") with the picture of its model class. Used in the main view to
// pick a device (browse mode) and in the search dialog to show what was found (display mode).
// Items hold only their texts; the device an item stands for is read back from them. The tree
// reads value copies of the devices only, never the registry.
#pragma once

#include <QIcon>
#include <QPersistentModelIndex>
#include <QTreeWidget>

#include <array>
#include <functional>
#include <vector>

namespace mvx {
struct DeviceSummary;
}

namespace mvx::gui {

class DeviceTree : public QTreeWidget {
    Q_OBJECT

public:
    enum Mode { Browse = 0, Display = 1 };

    explicit DeviceTree(QWidget* parent = nullptr);

    // Once, by the host: pictures, appearance and mode.
    void setUp(Mode mode);
    // Where the tooltips find a device as it is now (the host's copy of the list); null when
    // it is not listed. Without one, device items have no tooltip.
    using ToolTipSource = std::function<const DeviceSummary*(int code, int id)>;
    void setToolTipSource(ToolTipSource source) { toolTipSource_ = std::move(source); }

    // Empties the tree and fills it from `devices` (in list order, grouped by code in
    // ascending order). In browse mode it selects the wished device when listed, else the
    // first device of the first group, and remembers it; (-1, -1) wishes for nothing in
    // particular. In display mode nothing is selected.
    void rebuildTree(const std::vector<DeviceSummary>& devices, int wishedCode, int wishedId);

    // The device the view passes to the property sheet; (-1, -1) when none.
    int rememberedCode() const { return rememberedCode_; }
    int rememberedId() const { return rememberedId_; }

    // The four-line tooltip of a device item; empty for a group, or a device no longer listed.
    QString deviceToolTip(const QTreeWidgetItem* item) const;

signals:
    // The selected device changed, by mouse, keyboard or rebuild; the remembered pair is set.
    void deviceSelectionChanged();

protected:
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Keyboard moves skip the groups, so the cursor and the selection stay on devices.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    // The lines from each group down to its devices.
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

    // The (code, id) an item stands for, read from its and its group's texts; false for groups.
    bool addressOf(const QTreeWidgetItem* item, int& code, int& id) const;
    void onSelectionChanged();
    // The device item listed at (code, id), or null.
    QTreeWidgetItem* deviceItem(int code, int id) const;
    // Selects `item` (a device) as the current item.
    void selectDevice(QTreeWidgetItem* item);

    ToolTipSource toolTipSource_;
    Mode mode_ = Browse;
    int rememberedCode_ = -1;
    int rememberedId_ = -1;
    QString toolTipText_;
    bool rebuilding_ = false;
    // The image list: group, actuator, sensor, unknown model (see DeviceIcons.h).
    std::array<QIcon, 4> pictures_;
    // The device item selected last; deviceSelectionChanged() is emitted when it changes.
    QPersistentModelIndex selectedDevice_;
};

}  // namespace mvx::gui
