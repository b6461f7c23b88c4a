// The pictures of the device tree and the application's icon, drawn as SVG files in the
// library's resources and rendered into pixmaps at the sizes the views ask for (1x and 2x).
// A picture looks the same whether its item is selected or not.
#pragma once

#include <QIcon>

#include "device/ModelCatalogue.h"

namespace mvx::gui {

// Positions in the device tree's image list; the tree also keeps the position of each item's
// picture under PictureRole.
enum Picture : int {
    GroupPicture = 0,
    ActuatorPicture = 1,
    SensorPicture = 2,
    UnknownPicture = 3,
};
inline constexpr int PictureRole = Qt::UserRole + 1;

Picture pictureOf(ModelClass modelClass);

QIcon groupIcon();                        // a yellow folder
QIcon deviceIcon(ModelClass modelClass);  // actuator, sensor module or question mark
QIcon pictureIcon(Picture picture);
QIcon applicationIcon();  // actuator on a bus line, 16 to 256 px

}  // namespace mvx::gui
