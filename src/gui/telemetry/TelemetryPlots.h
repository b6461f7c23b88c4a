// The telemetry window's four plots, stacked on one scrolling time axis: present and goal
// position (raw on the left, degrees on the right), present speed, present load, and voltage
// with temperature. Every plot has the same plot-area width, so one instant is at the same x
// in all of them. Stretches without reads are shaded. The curves hold only the visible span,
// thinned to about two points per pixel column.
//
// The widget draws the plots itself, with texts laid out once and kept: a new sample costs
// one paint of lines and cached labels, at 20 frames a second beside a busy bus.
#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QStaticText>
#include <QWidget>

#include <array>
#include <utility>
#include <vector>

#include "gui/telemetry/PlotScale.h"
#include "gui/telemetry/TelemetryTrace.h"

namespace mvx::gui {

class TelemetryPlots : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPlotCount = 4;
    static constexpr int kMinimumPlotHeight = 110;

    // `maxPosition`: the device's largest position (1023 or 4095), for the position axes.
    explicit TelemetryPlots(int maxPosition, QWidget* parent = nullptr);

    // Shows the last `spanS` seconds of `trace` (from 0 while the trace is shorter).
    void showTrace(const TelemetryTrace& trace, double spanS);
    // Width of the plot areas in pixels: how many columns the curves are thinned to.
    int plotWidth() const;

    // What is shown, for tests and screenshots: the points of curve `curve` of plot `plot`
    // (0-3), the axes, and the shaded stretches.
    QList<QPointF> curvePoints(int plot, int curve) const;
    const PlotScale& timeAxis() const { return time_; }
    const PlotScale& leftAxis(int plot) const;
    const PlotScale& rightAxis(int plot) const;
    const std::vector<std::pair<double, double>>& unsampled() const { return unsampled_; }
    // The plot area of plot `plot` in the widget's coordinates.
    QRectF plotArea(int plot) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Curve {
        TelemetryTrace::Quantity quantity;
        QString name;
        QColor color;
        Qt::PenStyle style = Qt::SolidLine;
        bool onRight = false;
        QList<QPointF> points;
    };
    struct Plot {
        QString leftTitle;
        QString rightTitle;  // empty: no right axis
        PlotScale left;
        PlotScale right;
        std::vector<Curve> curves;
    };
    // The margins around every plot area, from the labels' font.
    struct Margins {
        int left = 0;
        int right = 0;
        int top = 0;
        int bottom = 0;      // of the upper plots
        int lastBottom = 0;  // of the lowest plot: room for the time labels and title
    };

    Plot& addPlot(const QString& leftTitle, const QString& rightTitle);
    static void addCurve(Plot& plot, TelemetryTrace::Quantity quantity, const QString& name,
                         const QColor& color, Qt::PenStyle style = Qt::SolidLine,
                         bool onRight = false);
    Margins margins() const;
    // The band of the widget plot `plot` takes (legend, plot area and axes).
    QRect band(int plot) const;

    void paintPlot(QPainter& painter, int plot);
    void paintLegend(QPainter& painter, int plot, const QRect& band);
    void paintValueAxis(QPainter& painter, const QRectF& area, const PlotScale& scale,
                        const QString& title, bool right, bool grid);
    void paintTimeAxis(QPainter& painter, const QRectF& area, bool labelled);
    void paintCurve(QPainter& painter, const QRectF& area, const Curve& curve,
                    const PlotScale& scale);
    // `text` laid out once (labels, titles and legend names repeat from frame to frame).
    const QStaticText& staticText(const QString& text);

    std::array<Plot, kPlotCount> plots_;
    int plotsAdded_ = 0;
    PlotScale time_;
    std::vector<std::pair<double, double>> unsampled_;
    QFont labelFont_;
    QHash<QString, QStaticText> texts_;
};

}  // namespace mvx::gui
