// The scale of one plot axis: its range, where its ticks go and how their labels read. Plain
// values and arithmetic, no drawing: the telemetry plots fit their value axes to what is
// visible and scroll their time axis with these.
#pragma once

#include <QString>

#include <vector>

namespace mvx::gui {

struct PlotScale {
    double min = 0.0;
    double max = 1.0;
    // Ticks at every multiple of `step` from `anchor` within the range.
    double step = 0.5;
    double anchor = 0.0;
    int decimals = 1;

    // The tick values, lowest first. A tick a rounding error outside the range counts.
    std::vector<double> ticks() const;
    // A tick's label: `decimals` places, never "-0".
    QString label(double value) const;
    // Where `value` falls on the axis: 0 at `min`, 1 at `max`.
    double fraction(double value) const;

    bool operator==(const PlotScale&) const = default;
};

// 1, 2 or 5 times a power of ten, at least `raw` (> 0).
double niceStep(double raw);

// `min` to `max` with `count` evenly spaced ticks from `min` on (a fixed scale).
PlotScale evenScale(double min, double max, int count, int decimals);

// A value axis fitted to the visible values `low`..`high` (`found` false when nothing is
// visible: `previous` keeps its place, or a scale around zero when `withZero`): at least
// `minimumSpan` wide, including zero when `withZero`, ending on round ticks about a quarter of
// the range apart.
PlotScale fittedScale(bool found, double low, double high, double minimumSpan, bool withZero,
                      const PlotScale& previous);

// The scrolling time axis from `fromS` to `toS`: ticks on round seconds, five or six of them
// over the span.
PlotScale timeScale(double fromS, double toS);

}  // namespace mvx::gui
