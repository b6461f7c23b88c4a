// A path the user picked, as the core's file functions take it (the file system's encoding).
#pragma once

#include <QFile>
#include <QString>
#include <string>

namespace mvx::gui {

inline std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace mvx::gui
