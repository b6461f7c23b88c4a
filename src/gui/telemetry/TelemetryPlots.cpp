#include "gui/telemetry/TelemetryPlots.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace mvx::gui {

namespace {

// Beyond this many distinct texts the cache starts again (time labels scroll by for hours).
constexpr qsizetype kMaxCachedTexts = 256;
constexpr int kTickLength = 4;
constexpr int kLabelGap = 6;
constexpr int kMarkerSize = 9;
const QColor kAxisColor(0x8c, 0x8c, 0x8c);
const QColor kGridColor(0xdd, 0xdd, 0xdd);
const QColor kGapColor(128, 128, 128, 60);
const QString kGapName = QStringLiteral("No reads");

// Labels, titles and legend a tenth smaller than the window's text.
QFont labelFontOf(QFont font) {
    font.setPointSizeF(font.pointSizeF() * 0.9);
    return font;
}

}  // namespace

TelemetryPlots::TelemetryPlots(int maxPosition, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(kPlotCount * kMinimumPlotHeight);
    labelFont_ = labelFontOf(font());

    // The angle axis follows the pages' conversion: position p is p x 300 / (max + 1) degrees,
    // so max + 1 raw units are 300 degrees and both axes share their ticks.
    Plot& position = addPlot(QStringLiteral("Position (raw)"), QStringLiteral("Angle (°)"));
    position.left = evenScale(0, maxPosition + 1, 5, 0);
    position.right = evenScale(0, 300, 5, 0);
    addCurve(position, TelemetryTrace::GoalPosition, QStringLiteral("Goal position"),
             QColor(0xe6, 0x7e, 0x22), Qt::DashLine);
    addCurve(position, TelemetryTrace::PresentPosition, QStringLiteral("Present position"),
             QColor(0x1f, 0x6f, 0xb4));

    Plot& speed = addPlot(QStringLiteral("Speed (raw)"), {});
    addCurve(speed, TelemetryTrace::PresentSpeed, QStringLiteral("Present speed"),
             QColor(0x2c, 0x9a, 0x3c));

    Plot& load = addPlot(QStringLiteral("Load (raw)"), {});
    addCurve(load, TelemetryTrace::PresentLoad, QStringLiteral("Present load"),
             QColor(0xc6, 0x28, 0x28));

    Plot& supply = addPlot(QStringLiteral("Voltage (V)"), QStringLiteral("Temp. (°C)"));
    addCurve(supply, TelemetryTrace::Voltage, QStringLiteral("Voltage"), QColor(0x7b, 0x3f, 0xb0));
    addCurve(supply, TelemetryTrace::Temperature, QStringLiteral("Temperature"),
             QColor(0x8d, 0x5a, 0x2b), Qt::SolidLine, true);

    TelemetryTrace empty;
    showTrace(empty, 10.0);
}

TelemetryPlots::Plot& TelemetryPlots::addPlot(const QString& leftTitle, const QString& rightTitle) {
    Plot& plot = plots_.at(static_cast<std::size_t>(plotsAdded_++));
    plot.leftTitle = leftTitle;
    plot.rightTitle = rightTitle;
    return plot;
}

void TelemetryPlots::addCurve(Plot& plot, TelemetryTrace::Quantity quantity, const QString& name,
                              const QColor& color, Qt::PenStyle style, bool onRight) {
    plot.curves.push_back({quantity, name, color, style, onRight, {}});
}

TelemetryPlots::Margins TelemetryPlots::margins() const {
    // Room for the widest labels ("-1000", "12.5") and the axis titles, the same in every
    // plot, so that the time axes line up; the legend takes a line above each plot area.
    const QFontMetrics labels(labelFont_);
    const int titleHeight = labels.height();
    // Half a label more above and below, where the outermost value labels reach.
    const int half = labels.height() / 2 + 2;
    Margins margins;
    margins.left = labels.horizontalAdvance(QStringLiteral("-0000")) + titleHeight + 18;
    margins.right = labels.horizontalAdvance(QStringLiteral("000")) + titleHeight + 18;
    margins.top = labels.height() + 14 + half;
    margins.bottom = half + 4;
    margins.lastBottom = 2 * labels.height() + 14;
    return margins;
}

QRect TelemetryPlots::band(int plot) const {
    const int top = height() * plot / kPlotCount;
    const int bottom = height() * (plot + 1) / kPlotCount;
    return QRect(0, top, width(), bottom - top);
}

QRectF TelemetryPlots::plotArea(int plot) const {
    const Margins m = margins();
    const QRect b = band(plot);
    const int bottom = plot == kPlotCount - 1 ? m.lastBottom : m.bottom;
    return QRectF(b.left() + m.left, b.top() + m.top, std::max(b.width() - m.left - m.right, 1),
                  std::max(b.height() - m.top - bottom, 1));
}

int TelemetryPlots::plotWidth() const {
    const Margins m = margins();
    return std::max(width() - m.left - m.right, 100);
}

QList<QPointF> TelemetryPlots::curvePoints(int plot, int curve) const {
    return plots_.at(static_cast<std::size_t>(plot))
        .curves.at(static_cast<std::size_t>(curve))
        .points;
}

const PlotScale& TelemetryPlots::leftAxis(int plot) const {
    return plots_.at(static_cast<std::size_t>(plot)).left;
}

const PlotScale& TelemetryPlots::rightAxis(int plot) const {
    return plots_.at(static_cast<std::size_t>(plot)).right;
}

void TelemetryPlots::showTrace(const TelemetryTrace& trace, double spanS) {
    const double toS = std::max(trace.lastTimeS(), spanS);
    const double fromS = toS - spanS;
    // The lowest and the highest of every three pixel columns: the curves look the same as
    // with every sample, at a fraction of the drawing.
    const int buckets = plotWidth() / 3;
    time_ = timeScale(fromS, toS);

    const auto fit = [&](PlotScale& scale, TelemetryTrace::Quantity quantity, double minimumSpan,
                         bool withZero) {
        double low = 0.0;
        double high = 0.0;
        const bool found = trace.valueRange(quantity, fromS, toS, low, high);
        scale = fittedScale(found, low, high, minimumSpan, withZero, scale);
    };
    fit(plots_[1].left, TelemetryTrace::PresentSpeed, 40.0, true);
    fit(plots_[2].left, TelemetryTrace::PresentLoad, 40.0, true);
    fit(plots_[3].left, TelemetryTrace::Voltage, 1.0, false);
    fit(plots_[3].right, TelemetryTrace::Temperature, 10.0, false);

    for (Plot& plot : plots_) {
        for (Curve& curve : plot.curves) {
            curve.points = trace.points(curve.quantity, fromS, toS, buckets);
        }
    }
    unsampled_ = trace.unsampled(fromS, toS);
    update();
}

void TelemetryPlots::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        labelFont_ = labelFontOf(font());
        texts_.clear();
    }
}

const QStaticText& TelemetryPlots::staticText(const QString& text) {
    auto found = texts_.find(text);
    if (found != texts_.end()) {
        return *found;
    }
    if (texts_.size() >= kMaxCachedTexts) {
        texts_.clear();
    }
    QStaticText laidOut(text);
    laidOut.setTextFormat(Qt::PlainText);
    laidOut.setPerformanceHint(QStaticText::AggressiveCaching);
    laidOut.prepare(QTransform(), labelFont_);
    return *texts_.insert(text, laidOut);
}

void TelemetryPlots::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().base());
    painter.setFont(labelFont_);
    for (int plot = 0; plot < kPlotCount; ++plot) {
        if (band(plot).intersects(event->rect())) {
            paintPlot(painter, plot);
        }
    }
}

void TelemetryPlots::paintPlot(QPainter& painter, int index) {
    const Plot& plot = plots_.at(static_cast<std::size_t>(index));
    const QRect b = band(index);
    const QRectF area = plotArea(index);
    painter.setClipRect(b);
    paintLegend(painter, index, b);

    // Grid first, curves over it, axes and labels last.
    paintValueAxis(painter, area, plot.left, plot.leftTitle, false, true);
    if (!plot.rightTitle.isEmpty()) {
        paintValueAxis(painter, area, plot.right, plot.rightTitle, true, false);
    }
    paintTimeAxis(painter, area, index == kPlotCount - 1);

    painter.setClipRect(area);
    for (const auto& [fromS, toS] : unsampled_) {
        const double left = area.left() + time_.fraction(fromS) * area.width();
        const double right = area.left() + time_.fraction(toS) * area.width();
        painter.fillRect(QRectF(left, area.top(), right - left, area.height()), kGapColor);
    }
    for (const Curve& curve : plot.curves) {
        paintCurve(painter, area, curve, curve.onRight ? plot.right : plot.left);
    }
    painter.setClipping(false);
}

void TelemetryPlots::paintLegend(QPainter& painter, int index, const QRect& band) {
    const Plot& plot = plots_.at(static_cast<std::size_t>(index));
    // Only the first plot names the shading.
    std::vector<std::pair<QString, QColor>> entries;
    for (const Curve& curve : plot.curves) {
        entries.emplace_back(curve.name, curve.color);
    }
    if (index == 0) {
        entries.emplace_back(kGapName, kGapColor);
    }
    const int spacing = 12;
    const int markerGap = 4;
    int total = 0;
    for (const auto& entry : entries) {
        total += kMarkerSize + markerGap + qRound(staticText(entry.first).size().width()) + spacing;
    }
    total -= spacing;
    const QFontMetrics metrics(labelFont_);
    const int y = band.top() + 6;
    int x = band.left() + (band.width() - total) / 2;
    for (const auto& [name, color] : entries) {
        const QRect marker(x, y + (metrics.height() - kMarkerSize) / 2, kMarkerSize, kMarkerSize);
        painter.fillRect(marker, color);
        painter.setPen(kAxisColor);
        painter.drawRect(marker.adjusted(0, 0, -1, -1));
        x += kMarkerSize + markerGap;
        const QStaticText& text = staticText(name);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawStaticText(x, y, text);
        x += qRound(text.size().width()) + spacing;
    }
}

void TelemetryPlots::paintValueAxis(QPainter& painter, const QRectF& area, const PlotScale& scale,
                                    const QString& title, bool right, bool grid) {
    const double edge = right ? area.right() : area.left();
    const QColor text = palette().color(QPalette::Text);
    double widest = 0.0;
    for (const double value : scale.ticks()) {
        const double y = std::round(area.bottom() - scale.fraction(value) * area.height());
        if (grid) {
            painter.setPen(kGridColor);
            painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        }
        painter.setPen(kAxisColor);
        painter.drawLine(QPointF(edge, y),
                         QPointF(right ? edge + kTickLength : edge - kTickLength, y));
        const QStaticText& label = staticText(scale.label(value));
        const QSizeF size = label.size();
        widest = std::max(widest, size.width());
        const double x = right ? edge + kLabelGap : edge - kLabelGap - size.width();
        painter.setPen(text);
        painter.drawStaticText(QPointF(x, y - size.height() / 2), label);
    }
    painter.setPen(kAxisColor);
    painter.drawLine(QPointF(edge, area.top()), QPointF(edge, area.bottom()));

    // The title turned along the axis, beyond the labels.
    const QStaticText& name = staticText(title);
    const QSizeF size = name.size();
    const double x = right ? edge + kLabelGap + widest + 4 + size.height()
                           : edge - kLabelGap - widest - 4 - size.height();
    painter.save();
    painter.translate(x, area.center().y());
    painter.rotate(right ? 90 : -90);
    painter.setPen(text);
    painter.drawStaticText(QPointF(-size.width() / 2, 0), name);
    painter.restore();
}

void TelemetryPlots::paintTimeAxis(QPainter& painter, const QRectF& area, bool labelled) {
    const QColor text = palette().color(QPalette::Text);
    const double y = area.bottom();
    double labelBottom = y + kLabelGap;
    for (const double t : time_.ticks()) {
        const double x = std::round(area.left() + time_.fraction(t) * area.width());
        painter.setPen(kGridColor);
        painter.drawLine(QPointF(x, area.top()), QPointF(x, y));
        painter.setPen(kAxisColor);
        painter.drawLine(QPointF(x, y), QPointF(x, y + kTickLength));
        if (labelled) {
            const QStaticText& label = staticText(time_.label(t));
            const QSizeF size = label.size();
            painter.setPen(text);
            painter.drawStaticText(QPointF(x - size.width() / 2, y + kLabelGap), label);
            labelBottom = std::max(labelBottom, y + kLabelGap + size.height());
        }
    }
    painter.setPen(kAxisColor);
    painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    if (labelled) {
        const QStaticText& title = staticText(QStringLiteral("Time (s)"));
        painter.setPen(text);
        painter.drawStaticText(QPointF(area.center().x() - title.size().width() / 2, labelBottom),
                               title);
    }
}

void TelemetryPlots::paintCurve(QPainter& painter, const QRectF& area, const Curve& curve,
                                const PlotScale& scale) {
    if (curve.points.isEmpty()) {
        return;
    }
    QPolygonF line;
    line.reserve(curve.points.size());
    for (const QPointF& point : curve.points) {
        line << QPointF(area.left() + time_.fraction(point.x()) * area.width(),
                        area.bottom() - scale.fraction(point.y()) * area.height());
    }
    QPen pen(curve.color);
    pen.setWidthF(1.6);
    pen.setStyle(curve.style);
    painter.setPen(pen);
    if (line.size() == 1) {
        painter.drawPoint(line.front());
    } else {
        painter.drawPolyline(line);
    }
}

}  // namespace mvx::gui
