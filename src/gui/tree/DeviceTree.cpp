#include "gui/tree/DeviceTree.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <memory>

#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "gui/tree/DeviceIcons.h"

namespace mvx::gui {

namespace {

const QString kGroupPrefix = QStringLiteral("Baudrate ");
const QString kDevicePrefix = QStringLiteral("ID ");

// The number after `prefix` in `text`; false when the text is not of that form.
bool numberAfter(const QString& text, const QString& prefix, int& number) {
    if (!text.startsWith(prefix)) {
        return false;
    }
    bool ok = false;
    const int value = text.mid(prefix.size()).toInt(&ok);
    if (ok) {
        number = value;
    }
    return ok;
}

bool isGroup(const QModelIndex& index) {
    return index.isValid() && !index.parent().isValid();
}

QString rgba(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

}  // namespace

DeviceTree::DeviceTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &DeviceTree::onSelectionChanged);
}

void DeviceTree::setUp(Mode mode) {
    mode_ = mode;
    for (int i = 0; i < static_cast<int>(pictures_.size()); ++i) {
        pictures_[static_cast<std::size_t>(i)] = pictureIcon(static_cast<Picture>(i));
    }

    // Two fixed levels: no header, no expand buttons, groups always open, lines from each
    // group to its devices (drawBranches), nothing editable or draggable.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(20);
    setIconSize(QSize(16, 16));
    setUniformRowHeights(true);
    setEditTriggers(NoEditTriggers);
    setDragEnabled(false);
    setAcceptDrops(false);
    setDragDropMode(NoDragDrop);
    setSelectionBehavior(SelectRows);

    if (mode == Browse) {
        setSelectionMode(SingleSelection);
        setFocusPolicy(Qt::StrongFocus);
        setMouseTracking(true);
        viewport()->setAttribute(Qt::WA_Hover, true);
        // The selection keeps its colours when the tree loses the focus; hovered rows get a
        // light tint of them.
        const QColor highlight = palette().color(QPalette::Active, QPalette::Highlight);
        const QColor highlightedText = palette().color(QPalette::Active, QPalette::HighlightedText);
        QColor hover = highlight;
        hover.setAlpha(48);
        setStyleSheet(QStringLiteral("QTreeView::item:hover:!selected { background: %1; }"
                                     "QTreeView::item:selected { background: %2; color: %3; }")
                          .arg(rgba(hover), rgba(highlight), rgba(highlightedText)));
    } else {
        setSelectionMode(NoSelection);
        setFocusPolicy(Qt::NoFocus);
        setMouseTracking(false);
        viewport()->setAttribute(Qt::WA_Hover, false);
        setStyleSheet(QString());
    }
}

void DeviceTree::rebuildTree(const std::vector<DeviceSummary>& devices, int wishedCode,
                             int wishedId) {
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    rebuilding_ = true;
    clear();
    rememberedCode_ = -1;
    rememberedId_ = -1;
    selectedDevice_ = QPersistentModelIndex();

    QTreeWidgetItem* wished = nullptr;
    QTreeWidgetItem* first = nullptr;
    std::vector<int> codes;
    for (const DeviceSummary& device : devices) {
        codes.push_back(device.baudCode);
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    for (const int code : codes) {
        auto group =
            std::make_unique<QTreeWidgetItem>(QStringList{kGroupPrefix + QString::number(code)});
        group->setIcon(0, pictures_[GroupPicture]);
        group->setData(0, PictureRole, int{GroupPicture});
        group->setFlags(Qt::ItemIsEnabled);
        for (const DeviceSummary& device : devices) {
            if (device.baudCode != code) {
                continue;
            }
            const Picture picture = pictureOf(device.modelClass);
            auto* item = new QTreeWidgetItem(
                group.get(), QStringList{kDevicePrefix + QString::number(device.id)});
            item->setIcon(0, pictures_[static_cast<std::size_t>(picture)]);
            item->setData(0, PictureRole, int{picture});
            item->setFlags(mode_ == Browse ? Qt::ItemIsEnabled | Qt::ItemIsSelectable
                                           : Qt::ItemIsEnabled);
            if (first == nullptr) {
                first = item;
            }
            if (code == wishedCode && device.id == wishedId) {
                wished = item;
            }
        }
        QTreeWidgetItem* added = group.release();
        addTopLevelItem(added);
        added->setExpanded(true);
    }

    if (mode_ == Browse) {
        QTreeWidgetItem* chosen = wished != nullptr ? wished : first;
        if (chosen != nullptr) {
            selectDevice(chosen);
            addressOf(chosen, rememberedCode_, rememberedId_);
            selectedDevice_ = indexFromItem(chosen);
        }
    }
    rebuilding_ = false;
    setUpdatesEnabled(updates);
    if (mode_ == Browse) {
        emit deviceSelectionChanged();
    }
}

QString DeviceTree::deviceToolTip(const QTreeWidgetItem* item) const {
    int code = -1;
    int id = -1;
    if (!toolTipSource_ || !addressOf(item, code, id)) {
        return {};
    }
    const DeviceSummary* device = toolTipSource_(code, id);
    if (device == nullptr) {
        return {};
    }
    return QStringLiteral("Type: %1 \nName: %2 \nNumber: %3 \nVersion: %4")
        .arg(QString::fromLatin1(classText(device->modelClass)),
             QString::fromLatin1(displayName(device->modelNumber)))
        .arg(device->modelNumber)
        .arg(device->firmwareVersion);
}

bool DeviceTree::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QTreeWidget::viewportEvent(event);
    }
    toolTipText_.clear();
    if (mode_ == Browse) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QTreeWidgetItem* item = itemAt(help->pos());
        toolTipText_ = deviceToolTip(item);
        if (!toolTipText_.isEmpty()) {
            QToolTip::showText(help->globalPos(), toolTipText_, viewport(), visualItemRect(item));
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

void DeviceTree::mousePressEvent(QMouseEvent* event) {
    if (mode_ == Display) {
        return;
    }
    const QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item != nullptr) {
        if (item->parent() == nullptr) {
            // A group: neither selected nor toggled, whichever button (a middle press would
            // otherwise clear the selection).
            return;
        }
        addressOf(item, rememberedCode_, rememberedId_);
    }
    QTreeWidget::mousePressEvent(event);
}

void DeviceTree::mouseDoubleClickEvent(QMouseEvent* event) {
    if (mode_ == Display || event->button() == Qt::LeftButton) {
        return;
    }
    const QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item != nullptr && item->parent() == nullptr) {
        return;  // groups stay open
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

QModelIndex DeviceTree::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex current = currentIndex();
    const QModelIndex next = QTreeWidget::moveCursor(action, modifiers);
    if (!isGroup(next)) {
        return next;
    }
    const bool up =
        action == MoveUp || action == MovePrevious || action == MovePageUp || action == MoveEnd;
    const bool down =
        action == MoveDown || action == MoveNext || action == MovePageDown || action == MoveHome;
    if (!up && !down) {
        return current;  // left or right onto the group: stay on the device
    }
    const auto nearestDevice = [this](QModelIndex index, bool upward) {
        do {
            index = upward ? indexAbove(index) : indexBelow(index);
        } while (isGroup(index));
        return index;
    };
    QModelIndex device = nearestDevice(next, up);
    const bool jump =
        action == MovePageUp || action == MovePageDown || action == MoveHome || action == MoveEnd;
    if (!device.isValid() && jump) {
        device = nearestDevice(next, !up);
    }
    return device.isValid() ? device : current;
}

void DeviceTree::drawBranches(QPainter* painter, const QRect& rect,
                              const QModelIndex& index) const {
    if (!index.parent().isValid() || rect.width() <= 0) {
        return;
    }
    // A vertical line under the group's folder, and a short stub to each device.
    const int x = rect.left() + indentation() / 2;
    const int y = rect.top() + rect.height() / 2;
    const bool more = index.siblingAtRow(index.row() + 1).isValid();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(palette().color(QPalette::Mid), 0));
    painter->drawLine(x, rect.top(), x, more ? rect.bottom() : y);
    painter->drawLine(x, y, rect.right() - 2, y);
    painter->restore();
}

bool DeviceTree::addressOf(const QTreeWidgetItem* item, int& code, int& id) const {
    if (item == nullptr || item->parent() == nullptr) {
        return false;
    }
    int groupCode = -1;
    int deviceId = -1;
    if (!numberAfter(item->parent()->text(0), kGroupPrefix, groupCode) ||
        !numberAfter(item->text(0), kDevicePrefix, deviceId)) {
        return false;
    }
    code = groupCode;
    id = deviceId;
    return true;
}

QTreeWidgetItem* DeviceTree::deviceItem(int code, int id) const {
    for (int g = 0; g < topLevelItemCount(); ++g) {
        const QTreeWidgetItem* group = topLevelItem(g);
        for (int c = 0; c < group->childCount(); ++c) {
            QTreeWidgetItem* item = group->child(c);
            int itemCode = -1;
            int itemId = -1;
            if (addressOf(item, itemCode, itemId) && itemCode == code && itemId == id) {
                return item;
            }
        }
    }
    return nullptr;
}

void DeviceTree::selectDevice(QTreeWidgetItem* item) {
    setCurrentItem(item);
    scrollToItem(item);
}

void DeviceTree::onSelectionChanged() {
    if (rebuilding_ || mode_ != Browse) {
        return;
    }
    const QList<QTreeWidgetItem*> selected = selectedItems();
    QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.first();
    int code = -1;
    int id = -1;
    if (!addressOf(item, code, id)) {
        // Something took the selection off the devices (Ctrl+click on the selected device,
        // type-ahead onto a group, a drag over a group): the remembered device stays selected,
        // so the selection always shows the device the view works with.
        if (QTreeWidgetItem* remembered = deviceItem(rememberedCode_, rememberedId_)) {
            selectDevice(remembered);
            return;
        }
        item = nullptr;
    }
    rememberedCode_ = code;
    rememberedId_ = id;
    const QPersistentModelIndex index(item != nullptr ? indexFromItem(item) : QModelIndex());
    if (index != selectedDevice_) {
        selectedDevice_ = index;
        emit deviceSelectionChanged();
    }
}

}  // namespace mvx::gui
