#include "gui/app/Texts.h"

namespace mvx::gui::texts {

QString foundCount(int count) {
    return QStringLiteral("%1 Movantrix(s) Found").arg(count);
}

QString foundCountPadded(int count) {
    return QStringLiteral("%1 Movantrix(s) Found").arg(count, 3);
}

}  // namespace mvx::gui::texts
