#include "gui/app/Texts.h"

namespace mvx::gui::texts {

QString foundCount(int count) {
    return QStringLiteral("%1 Movantrix(s) Found").arg(count);
}

QString foundCountPadded(int count) {
    return QStringLiteral("%1 Movantrix(s) Found").arg(count, 3);
}

QString adapterLimitations(const QStringList& limitations) {
    QString text = QStringLiteral("The adapter works, but not every setting took effect:\n");
    for (const QString& line : limitations) {
        text += QStringLiteral("\n- ") + line;
    }
    text += QStringLiteral(
        "\n\nFor all its settings, give your user access to the adapter over USB (the udev "
        "rules installed with Movantrix Manager); see ADAPTER ACCESS in "
        "movantrix-manager(1).");
    return text;
}

}  // namespace mvx::gui::texts
