#include "gui/telemetry/TelemetryPlots.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace mvx::gui {

namespace {

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw) {
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= raw) {
            return factor * power;
        }
    }
    return 10.0 * power;
}

// The time ticks of a span: five or six of them on round seconds.
double timeStep(double spanS) {
    return spanS <= 10.0 ? 2.0 : spanS <= 30.0 ? 5.0 : spanS <= 120.0 ? 20.0 : 120.0;
}

QFont smaller(QFont font) {
    font.setPointSizeF(font.pointSizeF() * 0.9);
    return font;
}

}  // namespace

TelemetryPlots::TelemetryPlots(int maxPosition, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    plots_.reserve(4);

    // The angle axis follows the pages' conversion: position p is p x 300 / (max + 1) degrees,
    // so max + 1 raw units are 300 degrees and both axes share their ticks.
    const double positions = maxPosition + 1;
    Plot& position = addPlot(false);
    position.left = addValueAxis(position, QStringLiteral("Position (raw)"), Qt::AlignLeft);
    position.right = addValueAxis(position, QStringLiteral("Angle (°)"), Qt::AlignRight);
    for (QValueAxis* axis : {position.left, position.right}) {
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setTickCount(5);
        axis->setLabelFormat(QStringLiteral("%.0f"));
    }
    position.left->setRange(0, positions);
    position.right->setRange(0, 300);
    position.right->setGridLineVisible(false);
    addCurve(position, TelemetryTrace::GoalPosition, QStringLiteral("Goal position"), position.left,
             QColor(0xe6, 0x7e, 0x22), Qt::DashLine);
    addCurve(position, TelemetryTrace::PresentPosition, QStringLiteral("Present position"),
             position.left, QColor(0x1f, 0x6f, 0xb4));

    Plot& speed = addPlot(false);
    speed.left = addValueAxis(speed, QStringLiteral("Speed (raw)"), Qt::AlignLeft);
    addCurve(speed, TelemetryTrace::PresentSpeed, QStringLiteral("Present speed"), speed.left,
             QColor(0x2c, 0x9a, 0x3c));

    Plot& load = addPlot(false);
    load.left = addValueAxis(load, QStringLiteral("Load (raw)"), Qt::AlignLeft);
    addCurve(load, TelemetryTrace::PresentLoad, QStringLiteral("Present load"), load.left,
             QColor(0xc6, 0x28, 0x28));

    Plot& supply = addPlot(true);
    supply.left = addValueAxis(supply, QStringLiteral("Voltage (V)"), Qt::AlignLeft);
    supply.right = addValueAxis(supply, QStringLiteral("Temp. (°C)"), Qt::AlignRight);
    supply.right->setGridLineVisible(false);
    addCurve(supply, TelemetryTrace::Voltage, QStringLiteral("Voltage"), supply.left,
             QColor(0x7b, 0x3f, 0xb0));
    addCurve(supply, TelemetryTrace::Temperature, QStringLiteral("Temperature"), supply.right,
             QColor(0x8d, 0x5a, 0x2b));
    supply.time->setTitleText(QStringLiteral("Time (s)"));

    for (Plot& plot : plots_) {
        addGapShading(plot);
        layout->addWidget(plot.view, 1);
    }
    // Only the first plot names the shading in its legend.
    for (std::size_t i = 1; i < plots_.size(); ++i) {
        for (QLegendMarker* marker : plots_[i].chart->legend()->markers(plots_[i].gaps)) {
            marker->setVisible(false);
        }
    }
    TelemetryTrace empty;
    showTrace(empty, 10.0);
}

TelemetryPlots::~TelemetryPlots() = default;

TelemetryPlots::Plot& TelemetryPlots::addPlot(bool lastPlot) {
    Plot& plot = plots_.emplace_back();
    plot.lastPlot = lastPlot;
    plot.chart = new QChart();
    plot.chart->setBackgroundRoundness(0);
    plot.chart->setMargins(QMargins(0, 0, 0, 0));
    plot.chart->layout()->setContentsMargins(0, 0, 0, 0);
    QLegend* legend = plot.chart->legend();
    legend->setAlignment(Qt::AlignTop);
    legend->setFont(smaller(font()));
    plot.view = new QChartView(plot.chart, this);
    plot.view->setObjectName(QStringLiteral("plot%1").arg(plots_.size()));
    plot.view->setRenderHint(QPainter::Antialiasing, false);
    plot.view->setMinimumHeight(110);

    plot.time = new QValueAxis(plot.chart);
    plot.time->setTickType(QValueAxis::TicksDynamic);
    plot.time->setTickAnchor(0);
    plot.time->setLabelFormat(QStringLiteral("%.0f"));
    plot.time->setLabelsFont(smaller(font()));
    plot.time->setTitleFont(smaller(font()));
    plot.time->setLabelsVisible(lastPlot);
    plot.chart->addAxis(plot.time, Qt::AlignBottom);
    connect(plot.chart, &QChart::geometryChanged, this, [this] { alignPlotAreas(); });
    return plot;
}

QValueAxis* TelemetryPlots::addValueAxis(Plot& plot, const QString& title, Qt::Alignment side) {
    auto* axis = new QValueAxis(plot.chart);
    axis->setTitleText(title);
    axis->setTitleFont(smaller(font()));
    axis->setLabelsFont(smaller(font()));
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    plot.chart->addAxis(axis, side);
    return axis;
}

void TelemetryPlots::addCurve(Plot& plot, TelemetryTrace::Quantity quantity, const QString& name,
                              QValueAxis* axis, const QColor& color, Qt::PenStyle style) {
    auto* series = new QLineSeries(plot.chart);
    series->setName(name);
    QPen pen(color);
    pen.setWidthF(1.6);
    pen.setStyle(style);
    series->setPen(pen);
    plot.chart->addSeries(series);
    series->attachAxis(plot.time);
    series->attachAxis(axis);
    plot.curves.push_back({quantity, series, axis});
}

void TelemetryPlots::addGapShading(Plot& plot) {
    plot.gapTop = new QLineSeries(plot.chart);
    plot.gapBottom = new QLineSeries(plot.chart);
    plot.gaps = new QAreaSeries(plot.gapTop, plot.gapBottom);
    plot.gaps->setName(QStringLiteral("No reads"));
    plot.gaps->setPen(Qt::NoPen);
    plot.gaps->setBrush(QColor(128, 128, 128, 60));
    plot.chart->addSeries(plot.gaps);
    plot.gaps->attachAxis(plot.time);
    plot.gaps->attachAxis(plot.left);
}

void TelemetryPlots::alignPlotAreas() {
    // Room for the widest labels ("-1000", "12.5") and the axis titles, the same in every
    // plot, so that the time axes line up; the legend takes a line above each plot area.
    const QFontMetrics labels(smaller(font()));
    const int titleHeight = labels.height();
    const int left = labels.horizontalAdvance(QStringLiteral("-0000")) + titleHeight + 18;
    const int right = labels.horizontalAdvance(QStringLiteral("000")) + titleHeight + 18;
    // Half a label more above and below, where the outermost value labels reach.
    const int half = labels.height() / 2 + 2;
    const int top = labels.height() + 14 + half;
    for (Plot& plot : plots_) {
        const QSizeF size = plot.chart->size();
        const int bottom = plot.lastPlot ? 2 * labels.height() + 14 : half + 4;
        const QRectF area(left, top, size.width() - left - right, size.height() - top - bottom);
        if (area.width() > 10 && area.height() > 10 && area != plot.chart->plotArea()) {
            plot.chart->setPlotArea(area);
        }
    }
}

void TelemetryPlots::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    alignPlotAreas();
}

int TelemetryPlots::plotWidth() const {
    const int width = static_cast<int>(plots_.front().chart->plotArea().width());
    return std::max(width, 100);
}

QList<QLineSeries*> TelemetryPlots::curves(int plot) const {
    QList<QLineSeries*> found;
    for (const Curve& curve : plots_.at(static_cast<std::size_t>(plot)).curves) {
        found.append(curve.series);
    }
    return found;
}

QValueAxis* TelemetryPlots::timeAxis(int plot) const {
    return plots_.at(static_cast<std::size_t>(plot)).time;
}

void TelemetryPlots::fitAxis(QValueAxis* axis, const TelemetryTrace& trace,
                             TelemetryTrace::Quantity quantity, double fromS, double toS,
                             double minimumSpan, bool withZero) {
    double low = 0.0;
    double high = 0.0;
    if (!trace.valueRange(quantity, fromS, toS, low, high)) {
        low = withZero ? -minimumSpan / 2 : axis->min();
        high = withZero ? minimumSpan / 2 : std::max(axis->max(), low + minimumSpan);
    }
    if (withZero) {
        low = std::min(low, 0.0);
        high = std::max(high, 0.0);
    }
    if (high - low < minimumSpan) {
        const double middle = (high + low) / 2;
        low = middle - minimumSpan / 2;
        high = middle + minimumSpan / 2;
    }
    const double step = niceStep((high - low) / 4);
    axis->setTickInterval(step);
    // A hair wider than the ticks, so that rounding does not drop the outermost labels.
    const double hair = step * 1e-6;
    axis->setRange(std::floor(low / step) * step - hair, std::ceil(high / step) * step + hair);
    axis->setLabelFormat(step < 1.0 ? QStringLiteral("%.1f") : QStringLiteral("%.0f"));
}

void TelemetryPlots::showTrace(const TelemetryTrace& trace, double spanS) {
    const double toS = std::max(trace.lastTimeS(), spanS);
    const double fromS = toS - spanS;
    // The lowest and the highest of every three pixel columns: the curves look the same as
    // with every sample, at a fraction of the drawing.
    const int buckets = plotWidth() / 3;

    fitAxis(plots_[1].left, trace, TelemetryTrace::PresentSpeed, fromS, toS, 40.0, true);
    fitAxis(plots_[2].left, trace, TelemetryTrace::PresentLoad, fromS, toS, 40.0, true);
    fitAxis(plots_[3].left, trace, TelemetryTrace::Voltage, fromS, toS, 1.0, false);
    fitAxis(plots_[3].right, trace, TelemetryTrace::Temperature, fromS, toS, 10.0, false);

    const std::vector<std::pair<double, double>> stretches = trace.unsampled(fromS, toS);
    for (Plot& plot : plots_) {
        plot.time->setTickInterval(timeStep(spanS));
        plot.time->setRange(fromS, toS);
        for (const Curve& curve : plot.curves) {
            curve.series->replace(trace.points(curve.quantity, fromS, toS, buckets));
        }
        const double low = plot.left->min();
        const double high = plot.left->max();
        QList<QPointF> top;
        top.reserve(static_cast<qsizetype>(stretches.size() * 4));
        for (const auto& [a, b] : stretches) {
            top << QPointF(a, low) << QPointF(a, high) << QPointF(b, high) << QPointF(b, low);
        }
        plot.gapTop->replace(top);
        plot.gapBottom->replace({QPointF(fromS, low), QPointF(toS, low)});
    }
}

}  // namespace mvx::gui
