#include "gui/buslog/BusLogDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>

namespace mvx::gui {

namespace {

constexpr char16_t kFirst = 0x20;
constexpr char16_t kLast = 0x7E;
constexpr qsizetype kBeyond = 4;

}  // namespace

const std::array<qreal, 128>& BusLogDelegate::advances(const QFont& font) const {
    if (!measured_ || font != font_) {
        const QFontMetricsF metrics(font);
        // Printable characters only: measuring a control character looks for fallback fonts.
        for (int c = kFirst; c <= kLast; ++c) {
            advances_[static_cast<std::size_t>(c)] = metrics.horizontalAdvance(QChar(c));
        }
        font_ = font;
        measured_ = true;
    }
    return advances_;
}

QString BusLogDelegate::fitted(const QString& text, const QFont& font, int width) const {
    const std::array<qreal, 128>& advance = advances(font);
    // Kerning moves a text's width a little from the sum of its characters' advances: a text
    // within a tenth of the width (and two pixels) of it is measured whole.
    const qreal slack = 2 + 0.1 * width;
    qreal sum = 0;
    qsizetype cut = -1;  // where the text is surely wider than the cell
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < kFirst || c > kLast) {
            return QFontMetrics(font).elidedText(text, Qt::ElideRight, width);
        }
        sum += advance[c];
        if (sum > width + 2 * slack) {
            // A few characters more: a text of one character is never elided.
            cut = std::min(text.size(), i + 1 + kBeyond);
            break;
        }
    }
    if (cut < 0 && sum + slack <= width) {
        return text;
    }
    // What lies beyond the cut is never shown: eliding the part before it gives the same.
    return QFontMetrics(font).elidedText(cut < 0 ? text : text.left(cut), Qt::ElideRight, width);
}

void BusLogDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    if (option.state & QStyle::State_HasFocus) {
        // The focus frame goes over the text: the one current cell is drawn the standard way.
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    // The style draws the cell without its text: background, selection, focus.
    opt.text.clear();
    opt.features &= ~QStyleOptionViewItem::HasDisplay;
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    if (text.isEmpty()) {
        return;
    }

    // The text where and how the style puts it.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
    QPalette::ColorGroup group =
        opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(opt.state & QStyle::State_Active)) {
        group = QPalette::Inactive;
    }
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(opt.direction);
    textOption.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
    QTextLayout layout(fitted(text, opt.font, textRect.width()), opt.font);
    layout.setTextOption(textOption);
    layout.setCacheEnabled(true);  // drawn with the glyphs laid out, not shaped again
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(textRect.width());
    line.setPosition({0, 0});
    layout.endLayout();
    const int height = qCeil(line.height());
    int y = textRect.top();
    if (opt.displayAlignment & Qt::AlignVCenter) {
        y += (textRect.height() - height) / 2;
    } else if (opt.displayAlignment & Qt::AlignBottom) {
        y += textRect.height() - height;
    }
    painter->save();
    painter->setPen(opt.palette.color(
        group, opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setClipRect(opt.rect, Qt::IntersectClip);
    layout.draw(painter, QPointF(textRect.left(), y));
    painter->restore();
}

}  // namespace mvx::gui
