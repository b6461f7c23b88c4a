#include "gui/telemetry/PlotScale.h"

#include <algorithm>
#include <cmath>

namespace mvx::gui {

std::vector<double> PlotScale::ticks() const {
    std::vector<double> found;
    if (!(step > 0.0) || !(max >= min)) {
        return found;
    }
    // A millionth of a step either way: a tick on the range's end is kept whatever the
    // rounding of the range.
    const double hair = step * 1e-6;
    const double first = std::ceil((min - hair - anchor) / step);
    const double last = std::floor((max + hair - anchor) / step);
    // A guard against a step that is tiny beside the range: no axis has more than a few ticks.
    if (last - first > 1000.0) {
        return found;
    }
    for (double k = first; k <= last; k += 1.0) {
        found.push_back(anchor + k * step);
    }
    return found;
}

QString PlotScale::label(double value) const {
    const int places = std::clamp(decimals, 0, 6);
    // A value that rounds to zero reads "0", never "-0".
    if (std::abs(value) < 0.5 * std::pow(10.0, -places)) {
        value = 0.0;
    }
    return QString::number(value, 'f', places);
}

double PlotScale::fraction(double value) const {
    return max > min ? (value - min) / (max - min) : 0.0;
}

double niceStep(double raw) {
    if (!(raw > 0.0) || !std::isfinite(raw)) {
        return 1.0;
    }
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        // A hair of tolerance: 0.3 / 3 is not exactly 0.1.
        if (factor * power * (1.0 + 1e-9) >= raw) {
            return factor * power;
        }
    }
    return 10.0 * power;
}

PlotScale evenScale(double min, double max, int count, int decimals) {
    PlotScale scale;
    scale.min = min;
    scale.max = max;
    scale.anchor = min;
    scale.step = count > 1 ? (max - min) / (count - 1) : max - min;
    scale.decimals = decimals;
    return scale;
}

PlotScale fittedScale(bool found, double low, double high, double minimumSpan, bool withZero,
                      const PlotScale& previous) {
    if (!found) {
        low = withZero ? -minimumSpan / 2 : previous.min;
        high = withZero ? minimumSpan / 2 : std::max(previous.max, low + minimumSpan);
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
    PlotScale scale;
    scale.step = niceStep((high - low) / 4);
    scale.anchor = 0.0;
    scale.min = std::floor(low / scale.step) * scale.step;
    scale.max = std::ceil(high / scale.step) * scale.step;
    // As many places as the step has: 0.5 V steps read 11.5, 12.0.
    scale.decimals = std::max(0, static_cast<int>(-std::floor(std::log10(scale.step) + 1e-9)));
    return scale;
}

PlotScale timeScale(double fromS, double toS) {
    const double span = toS - fromS;
    PlotScale scale;
    scale.min = fromS;
    scale.max = toS;
    scale.anchor = 0.0;
    scale.step = span <= 10.0 ? 2.0 : span <= 30.0 ? 5.0 : span <= 120.0 ? 20.0 : 120.0;
    scale.decimals = 0;
    return scale;
}

}  // namespace mvx::gui
