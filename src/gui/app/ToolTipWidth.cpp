#include "gui/app/ToolTipWidth.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QStringList>
#include <QToolTip>
#include <QWidget>

namespace mvx::gui {

ToolTipWidth::ToolTipWidth(QWidget& window, int maxWidthPx)
    : QObject(&window), window_(window), maxWidth_(maxWidthPx) {
    // Tooltip requests go to the control under the pointer; the application-wide filter sees
    // them for controls created after this one too.
    qApp->installEventFilter(this);
}

QString ToolTipWidth::wrap(const QString& text, const QFontMetrics& metrics, int maxWidthPx) {
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString& word : paragraph.split(QLatin1Char(' '))) {
            const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (line.isEmpty() || metrics.horizontalAdvance(candidate) <= maxWidthPx) {
                line = candidate;
            } else {
                lines << line;
                line = word;
            }
            // A word wider than the limit alone is cut where it has to be.
            while (metrics.horizontalAdvance(line) > maxWidthPx && line.size() > 1) {
                int keep = line.size() - 1;
                while (keep > 1 && metrics.horizontalAdvance(line.left(keep)) > maxWidthPx) {
                    --keep;
                }
                lines << line.left(keep);
                line = line.mid(keep);
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

bool ToolTipWidth::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    if (widget != &window_ && !window_.isAncestorOf(widget)) {
        return false;
    }
    if (widget->toolTip().isEmpty()) {
        return false;  // the control's own handling (a tree item's tooltip, for one)
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QFontMetrics metrics(QToolTip::font());
    QToolTip::showText(help->globalPos(), wrap(widget->toolTip(), metrics, maxWidth_), widget);
    return true;
}

}  // namespace mvx::gui
