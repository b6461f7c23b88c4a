// The telemetry window's four plots, stacked on one scrolling time axis: present and goal
// position (raw on the left, degrees on the right), present speed, present load, and voltage
// with temperature. Every plot has the same plot-area width, so one instant is at the same x
// in all of them. Stretches without reads are shaded. The curves hold only the visible span,
// thinned to about two points per pixel column.
#pragma once

#include <QList>
#include <QWidget>

#include <vector>

#include "gui/telemetry/TelemetryTrace.h"

class QAreaSeries;
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

namespace mvx::gui {

class TelemetryPlots : public QWidget {
    Q_OBJECT

public:
    // `maxPosition`: the device's largest position (1023 or 4095), for the position axes.
    explicit TelemetryPlots(int maxPosition, QWidget* parent = nullptr);
    ~TelemetryPlots() override;

    // Shows the last `spanS` seconds of `trace` (from 0 while the trace is shorter).
    void showTrace(const TelemetryTrace& trace, double spanS);
    // Width of the plot areas in pixels: how many columns the curves are thinned to.
    int plotWidth() const;

    // The curves of plot `plot` (0-3), for tests and screenshots.
    QList<QLineSeries*> curves(int plot) const;
    QValueAxis* timeAxis(int plot) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Curve {
        TelemetryTrace::Quantity quantity;
        QLineSeries* series;
        QValueAxis* axis;
    };
    struct Plot {
        QChartView* view = nullptr;
        QChart* chart = nullptr;
        QValueAxis* time = nullptr;
        QValueAxis* left = nullptr;
        QValueAxis* right = nullptr;
        std::vector<Curve> curves;
        QLineSeries* gapTop = nullptr;
        QLineSeries* gapBottom = nullptr;
        QAreaSeries* gaps = nullptr;
        bool lastPlot = false;
    };

    Plot& addPlot(bool lastPlot);
    QValueAxis* addValueAxis(Plot& plot, const QString& title, Qt::Alignment side);
    void addCurve(Plot& plot, TelemetryTrace::Quantity quantity, const QString& name,
                  QValueAxis* axis, const QColor& color, Qt::PenStyle style = Qt::SolidLine);
    void addGapShading(Plot& plot);
    // Fixes every plot area to the same left and right margins.
    void alignPlotAreas();
    // Fits `axis` to the visible values of `quantity`, at least `minimumSpan` wide.
    static void fitAxis(QValueAxis* axis, const TelemetryTrace& trace,
                        TelemetryTrace::Quantity quantity, double fromS, double toS,
                        double minimumSpan, bool withZero);

    std::vector<Plot> plots_;
};

}  // namespace mvx::gui
