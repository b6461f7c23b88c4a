#include "gui/tree/DeviceIcons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <initializer_list>

// The library is static: the linker keeps the compiled resources only when something refers
// to them, and Q_INIT_RESOURCE must be used outside any namespace.
static void initDeviceIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace mvx::gui {

namespace {

void ensureResources() {
    static const bool initialised = (initDeviceIconResources(), true);
    (void)initialised;
}

// Renders the SVG at each size and hands out the same pixmap for the normal and the selected
// state, so a selected item keeps its colours.
QIcon renderedIcon(const QString& path, std::initializer_list<int> sizes) {
    ensureResources();
    QSvgRenderer renderer(path);
    QIcon icon;
    if (!renderer.isValid()) {
        return icon;
    }
    for (int size : sizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QPixmap pixmap = QPixmap::fromImage(image);
        icon.addPixmap(pixmap, QIcon::Normal);
        icon.addPixmap(pixmap, QIcon::Selected);
    }
    return icon;
}

QIcon treeIcon(const QString& path) {
    return renderedIcon(path, {16, 24, 32, 48, 64});
}

}  // namespace

Picture pictureOf(ModelClass modelClass) {
    switch (modelClass) {
        case Actuator:
            return ActuatorPicture;
        case Sensor:
            return SensorPicture;
        default:
            return UnknownPicture;
    }
}

QIcon pictureIcon(Picture picture) {
    switch (picture) {
        case GroupPicture:
            return treeIcon(QStringLiteral(":/icons/folder.svg"));
        case ActuatorPicture:
            return treeIcon(QStringLiteral(":/icons/actuator.svg"));
        case SensorPicture:
            return treeIcon(QStringLiteral(":/icons/sensor.svg"));
        default:
            return treeIcon(QStringLiteral(":/icons/unknown.svg"));
    }
}

QIcon groupIcon() {
    return pictureIcon(GroupPicture);
}

QIcon deviceIcon(ModelClass modelClass) {
    return pictureIcon(pictureOf(modelClass));
}

QIcon applicationIcon() {
    return renderedIcon(QStringLiteral(":/icons/app.svg"), {16, 24, 32, 48, 64, 128, 256});
}

}  // namespace mvx::gui
