#include "gui/pages/OperationFormat.h"

namespace mvx::gui::operation {

QString goalText(int position, int maxPosition) {
    // The angle is computed in single precision.
    const float angle = static_cast<float>(position) * 300.0f / static_cast<float>(maxPosition + 1);
    return QString::asprintf("%d (%.1f\u02DA)", position, static_cast<double>(angle));
}

QString speedText(int speed, bool wheel) {
    if (wheel) {
        return QString::asprintf("%d (%d\uFF05)", speed, speed * 100 / 1023);
    }
    if (speed == 0) {
        return QString::asprintf("%d (Max. RPM)", speed);
    }
    return QString::asprintf("%d (%dRPM)", speed, speed * 114 / 1023);
}

QString torqueLimitText(int limit) {
    return QString::asprintf("%d (%d\uFF05)", limit, limit * 100 / 1023);
}

QString voltageText(int tenths) {
    return QString::asprintf("%.1fv", tenths * 0.1);
}

QString temperatureText(int celsius) {
    return QString::asprintf("%3d\u2103", celsius);
}

QString widthFourText(int value) {
    return QString::asprintf("%4d", value);
}

int slopeStep(int slope) {
    int step = 1;
    while (step < 7 && slope > slopeOfStep(step)) {
        ++step;
    }
    return step;
}

QString slopeText(int step, int slope) {
    return QString::asprintf("%d (%d)", step, slope);
}

}  // namespace mvx::gui::operation
