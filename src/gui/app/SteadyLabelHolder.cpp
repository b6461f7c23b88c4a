#include "gui/app/SteadyLabelHolder.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>

namespace mvx::gui {

SteadyLabelHolder::SteadyLabelHolder(QLabel& label, QStringList widestTexts)
    : QWidget(label.parentWidget()), label_(label), widestTexts_(std::move(widestTexts)) {
    setObjectName(label.objectName() + QStringLiteral("Holder"));
    setSizePolicy(label.sizePolicy());
    QWidget* parent = label.parentWidget();
    if (parent != nullptr && parent->layout() != nullptr) {
        delete parent->layout()->replaceWidget(&label, this);
    }
    const bool hidden = label.isHidden();
    label.setParent(this);
    label.setVisible(!hidden);
    measure();
}

void SteadyLabelHolder::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        measure();
    }
}

void SteadyLabelHolder::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    label_.setGeometry(rect());
}

void SteadyLabelHolder::measure() {
    const QFontMetrics metrics = label_.fontMetrics();
    QChar widestDigit = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) >
            metrics.horizontalAdvance(widestDigit)) {
            widestDigit = QLatin1Char(digit);
        }
    }
    // The label measures each text itself (margins, indent and frame included); the text it
    // shows is put back after.
    const QString shown = label_.text();
    QSize hint;
    for (QString text : widestTexts_) {
        for (QChar& c : text) {
            c = c.isDigit() ? widestDigit : c;
        }
        label_.setText(text);
        hint = hint.expandedTo(label_.sizeHint());
    }
    label_.setText(shown);
    hint_ = hint;
    updateGeometry();
}

}  // namespace mvx::gui
