// Takes the place of a label whose text changes often (a polled value) in its layout, and holds
// it. A label asks every layout above it to be redone on each new text, up to the first widget
// without a layout; under a tab widget that repaints the whole tab page. The holder has no
// layout, so the request ends there and a new text repaints only the label.
//
// In the layout the holder stands for the label at the widest of the texts it can show (every
// digit as wide as the font's widest one), and with the label's size policy; the label fills
// it. Its size follows changes of font and style.
#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;

namespace mvx::gui {

class SteadyLabelHolder : public QWidget {
    Q_OBJECT

public:
    // Puts the holder where `label` is in its parent's layout and moves the label into it.
    // `widestTexts`: the texts that may be the widest, digits standing for any digit.
    SteadyLabelHolder(QLabel& label, QStringList widestTexts);

    QSize sizeHint() const override { return hint_; }
    QSize minimumSizeHint() const override { return hint_; }

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void measure();

    QLabel& label_;
    QStringList widestTexts_;
    QSize hint_;
};

}  // namespace mvx::gui
