// Gives the tooltips of a window's controls a maximum width in pixels: a control's tooltip
// text is broken into lines no wider than that (at spaces where it can, inside a word where it
// must) before it is shown. Line breaks in the text itself are kept.
#pragma once

#include <QObject>
#include <QString>

class QFontMetrics;
class QWidget;

namespace mvx::gui {

class ToolTipWidth : public QObject {
    Q_OBJECT

public:
    // Watches the tooltip requests of `window` and of every control inside it.
    ToolTipWidth(QWidget& window, int maxWidthPx);

    int maxWidth() const { return maxWidth_; }

    // `text` broken into lines of at most `maxWidthPx` pixels in `metrics`.
    static QString wrap(const QString& text, const QFontMetrics& metrics, int maxWidthPx);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    int maxWidth_;
};

}  // namespace mvx::gui
