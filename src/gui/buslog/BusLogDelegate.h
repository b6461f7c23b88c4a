// Draws the Bus Log table's cells as the standard item delegate does (the style's background,
// selection and focus, the text elided at the right in the cell's colour), but lays each text
// out once. The standard delegate lays a text out three to four times per paint (to size it, to
// elide it, to draw it), which at a full table of long packets held the GUI thread for several
// milliseconds on every tick. Whether a text needs eliding is judged first from the font's
// advances of its plain ASCII characters; only a text near the cell's width is measured whole,
// and a long one is cut to a little more than fits before it is elided. The one cell with the
// focus frame is left to the standard delegate (the frame is drawn over its text).
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QStyledItemDelegate>

#include <array>

namespace mvx::gui {

class BusLogDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // `text` as it is shown in `width` pixels in `font`: whole when it fits, else elided at
    // the right as QFontMetrics::elidedText does.
    QString fitted(const QString& text, const QFont& font, int width) const;

private:
    // The advances of the printable ASCII characters in `font`, measured once per font.
    const std::array<qreal, 128>& advances(const QFont& font) const;

    mutable QFont font_;
    mutable bool measured_ = false;
    mutable std::array<qreal, 128> advances_{};
};

}  // namespace mvx::gui
