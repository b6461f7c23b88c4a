// The telemetry plots: where their axes put the ticks and what the labels read, how they fit
// the visible values and scroll, which points the curves get, and that the drawing puts a value
// where its axis says (pixels of the widget as shown).
#include <QImage>
#include <QTest>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "gui/telemetry/PlotScale.h"
#include "gui/telemetry/TelemetryPlots.h"
#include "gui/telemetry/TelemetryTrace.h"

Q_DECLARE_METATYPE(mvx::gui::PlotScale)

namespace mvx::gui::test {

namespace {

const QColor kPresentPosition(0x1f, 0x6f, 0xb4);
const QColor kPresentSpeed(0x2c, 0x9a, 0x3c);

// `seconds` of reads at 100 Hz, each sample from `fill` at its time; reads fail (gaps) from
// `gapFromS` to `gapToS`.
TelemetryTrace traceOf(double seconds, const std::function<void(double, StatusSample&)>& fill,
                       double gapFromS = -1.0, double gapToS = -1.0) {
    TelemetryTrace trace;
    for (int i = 0; i <= static_cast<int>(std::lround(seconds * 100)); ++i) {
        StatusSample sample;
        sample.timeS = i / 100.0;
        sample.ok = !(sample.timeS >= gapFromS && sample.timeS < gapToS);
        sample.result = sample.ok ? 100 : 1;
        sample.presentVoltage = 121;
        sample.presentTemperature = 37;
        if (sample.ok) {
            fill(sample.timeS, sample);
        }
        trace.add(sample, 0.0);
    }
    return trace;
}

PlotScale scaleOf(double min, double max, double step, double anchor, int decimals) {
    PlotScale scale;
    scale.min = min;
    scale.max = max;
    scale.step = step;
    scale.anchor = anchor;
    scale.decimals = decimals;
    return scale;
}

// Whether a pixel within `reach` of `at` has `color` (lines are drawn without smoothing, but a
// line's rounding may put it a pixel off).
bool colorNear(const QImage& image, QPointF at, const QColor& color, int reach = 1) {
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const QPoint p(qRound(at.x()) + dx, qRound(at.y()) + dy);
            if (image.rect().contains(p) && image.pixelColor(p).rgb() == color.rgb()) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

class TelemetryPlotsTest : public QObject {
    Q_OBJECT

private slots:
    void scales_data() {
        QTest::addColumn<PlotScale>("scale");
        QTest::addColumn<QStringList>("labels");
        const PlotScale none;
        // The position axes: 1024 and 4096 raw units and 300 degrees, in quarters.
        QTest::newRow("position, 1023")
            << evenScale(0, 1024, 5, 0) << QStringList{"0", "256", "512", "768", "1024"};
        QTest::newRow("position, 4095")
            << evenScale(0, 4096, 5, 0) << QStringList{"0", "1024", "2048", "3072", "4096"};
        QTest::newRow("angle") << evenScale(0, 300, 5, 0)
                               << QStringList{"0", "75", "150", "225", "300"};
        // Value axes fitted to what is visible.
        QTest::newRow("voltage about 12 V: 1 V wide, half-volt ticks")
            << fittedScale(true, 11.9, 12.1, 1.0, false, none)
            << QStringList{"11.5", "12.0", "12.5"};
        QTest::newRow("speed both ways: zero inside")
            << fittedScale(true, -150, 150, 40.0, true, none)
            << QStringList{"-200", "-100", "0", "100", "200"};
        QTest::newRow("speed only forward: from zero")
            << fittedScale(true, 50, 150, 40.0, true, none) << QStringList{"0", "50", "100", "150"};
        QTest::newRow("speed standing still: the least span around zero")
            << fittedScale(true, 0, 0, 40.0, true, none)
            << QStringList{"-20", "-10", "0", "10", "20"};
        QTest::newRow("speed, nothing visible: as standing still")
            << fittedScale(false, 0, 0, 40.0, true, none)
            << QStringList{"-20", "-10", "0", "10", "20"};
        QTest::newRow("temperature, nothing visible: where it was")
            << fittedScale(false, 0, 0, 10.0, false, scaleOf(30, 40, 5, 0, 0))
            << QStringList{"30", "35", "40"};
        QTest::newRow("temperature one degree: ten degrees around it")
            << fittedScale(true, 37, 37, 10.0, false, none) << QStringList{"30", "35", "40", "45"};
        QTest::newRow("a full load swing") << fittedScale(true, -1023, 1023, 40.0, true, none)
                                           << QStringList{"-2000", "-1000", "0", "1000", "2000"};
        // The scrolling time axis: round seconds, a tick on the range's ends only when round.
        QTest::newRow("time, 10 s span")
            << timeScale(3.4, 13.4) << QStringList{"4", "6", "8", "10", "12"};
        QTest::newRow("time, 10 s from the start")
            << timeScale(0, 10) << QStringList{"0", "2", "4", "6", "8", "10"};
        QTest::newRow("time, 30 s")
            << timeScale(31.5, 61.5) << QStringList{"35", "40", "45", "50", "55", "60"};
        QTest::newRow("time, 2 min")
            << timeScale(100, 220) << QStringList{"100", "120", "140", "160", "180", "200", "220"};
        QTest::newRow("time, 10 min")
            << timeScale(0, 600) << QStringList{"0", "120", "240", "360", "480", "600"};
        // Steps of a tenth: the ends kept whatever the rounding, and never "-0.0".
        QTest::newRow("tenths around zero")
            << scaleOf(-0.3, 0.3, 0.1, 0, 1)
            << QStringList{"-0.3", "-0.2", "-0.1", "0.0", "0.1", "0.2", "0.3"};
        // Nonsense never loops: no ticks for a step of zero or a range upside down.
        QTest::newRow("step zero") << scaleOf(0, 10, 0, 0, 0) << QStringList{};
        QTest::newRow("upside down") << scaleOf(10, 0, 1, 0, 0) << QStringList{};
        QTest::newRow("NaN step") << scaleOf(0, 10, std::nan(""), 0, 0) << QStringList{};
    }
    void scales() {
        QFETCH(PlotScale, scale);
        QFETCH(QStringList, labels);
        QStringList shown;
        for (const double tick : scale.ticks()) {
            shown << scale.label(tick);
            QVERIFY(scale.fraction(tick) > -1e-9 && scale.fraction(tick) < 1 + 1e-9);
        }
        QCOMPARE(shown, labels);
    }

    void niceSteps_data() {
        QTest::addColumn<double>("raw");
        QTest::addColumn<double>("step");
        QTest::newRow("a quarter volt") << 0.25 << 0.5;
        QTest::newRow("a tenth, inexact") << 0.3 / 3 << 0.1;
        QTest::newRow("exactly ten") << 10.0 << 10.0;
        QTest::newRow("just over two") << 2.01 << 5.0;
        QTest::newRow("over five") << 75.0 << 100.0;
        QTest::newRow("zero") << 0.0 << 1.0;
        QTest::newRow("negative") << -3.0 << 1.0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 1.0;
    }
    void niceSteps() {
        QFETCH(double, raw);
        QFETCH(double, step);
        QCOMPARE(niceStep(raw), step);
    }

    // The last span of the trace, every curve thinned to the plot's width, the axes fitted to
    // what is visible, the gaps shaded; before the span is full, the axis starts at 0.
    void showTraceShowsTheLastSpan() {
        TelemetryPlots plots(1023);
        plots.resize(700, 520);
        const TelemetryTrace trace = traceOf(
            25.0,
            [](double t, StatusSample& s) {
                s.presentPosition = static_cast<int>(100 + 30 * t);
                s.goalPosition = 900;
                s.presentSpeed = t < 20 ? 120 : -60;
                s.presentLoad = 30;
            },
            18.0, 19.0);
        plots.showTrace(trace, 10.0);
        QCOMPARE(plots.timeAxis().min, 15.0);
        QCOMPARE(plots.timeAxis().max, 25.0);
        const int buckets = plots.plotWidth() / 3;
        QCOMPARE(plots.curvePoints(0, 0),
                 trace.points(TelemetryTrace::GoalPosition, 15.0, 25.0, buckets));
        QCOMPARE(plots.curvePoints(0, 1),
                 trace.points(TelemetryTrace::PresentPosition, 15.0, 25.0, buckets));
        QCOMPARE(plots.curvePoints(1, 0),
                 trace.points(TelemetryTrace::PresentSpeed, 15.0, 25.0, buckets));
        QCOMPARE(plots.curvePoints(3, 1),
                 trace.points(TelemetryTrace::Temperature, 15.0, 25.0, buckets));
        // 1000 reads in the span, thinned to at most two per bucket (and the read before).
        QVERIFY(plots.curvePoints(0, 1).size() <= 2 * buckets + 1);
        QCOMPARE(plots.leftAxis(0), evenScale(0, 1024, 5, 0));
        QCOMPARE(plots.rightAxis(0), evenScale(0, 300, 5, 0));
        QCOMPARE(plots.leftAxis(1).min, -100.0);
        QCOMPARE(plots.leftAxis(1).max, 150.0);
        QCOMPARE(plots.leftAxis(2).min, -10.0);
        QCOMPARE(plots.leftAxis(2).max, 40.0);
        QCOMPARE(plots.leftAxis(3).label(plots.leftAxis(3).min), QStringLiteral("11.5"));
        QCOMPARE(plots.unsampled(), trace.unsampled(15.0, 25.0));
        QVERIFY(!plots.unsampled().empty());

        plots.showTrace(trace, 30.0);
        QCOMPARE(plots.timeAxis().min, 0.0);
        QCOMPARE(plots.timeAxis().max, 30.0);
        // Cleared: empty curves; the value axes keep a sensible span.
        plots.showTrace(TelemetryTrace(), 10.0);
        QVERIFY(plots.curvePoints(0, 1).isEmpty());
        QCOMPARE(plots.leftAxis(1).min, -20.0);
        QVERIFY(plots.leftAxis(3).max - plots.leftAxis(3).min >= 1.0);
    }

    // The drawing: a value lands where its axes put it, the shading covers a gap, and the four
    // plot areas share their left and right edges.
    void drawsValuesWhereTheAxesPutThem() {
        TelemetryPlots plots(1023);
        plots.resize(640, 520);
        const TelemetryTrace trace = traceOf(
            10.0,
            [](double, StatusSample& s) {
                s.presentPosition = 512;
                s.goalPosition = 256;
                s.presentSpeed = 50;
            },
            6.0, 7.0);
        plots.showTrace(trace, 10.0);
        const QImage image = plots.grab().toImage();
        for (int plot = 1; plot < TelemetryPlots::kPlotCount; ++plot) {
            QCOMPARE(plots.plotArea(plot).left(), plots.plotArea(0).left());
            QCOMPARE(plots.plotArea(plot).right(), plots.plotArea(0).right());
            QVERIFY(plots.plotArea(plot).top() >= plots.plotArea(plot - 1).bottom());
        }

        // Present position 512 of 0-1024: half-way up, at 2 s and at 9 s.
        const QRectF position = plots.plotArea(0);
        const auto at = [](const QRectF& area, double timeS, double fraction) {
            return QPointF(area.left() + timeS / 10.0 * area.width(),
                           area.bottom() - fraction * area.height());
        };
        QVERIFY(colorNear(image, at(position, 2.0, 0.5), kPresentPosition));
        QVERIFY(colorNear(image, at(position, 9.0, 0.5), kPresentPosition));
        QVERIFY(!colorNear(image, at(position, 2.0, 0.75), kPresentPosition, 3));
        // Speed 50 on its axis of 0-60.
        QCOMPARE(plots.leftAxis(1).max, 60.0);
        QVERIFY(colorNear(image, at(plots.plotArea(1), 4.0, 50.0 / 60.0), kPresentSpeed));
        // The gap from 6 to 7 s is shaded grey; before it the background is plain.
        const QRectF load = plots.plotArea(2);
        const QColor background = image.pixelColor(at(load, 3.1, 0.9).toPoint());
        const QColor shaded = image.pixelColor(at(load, 6.5, 0.9).toPoint());
        QCOMPARE(background, plots.palette().color(QPalette::Base));
        QVERIFY(shaded != background);
        QCOMPARE(shaded.red(), shaded.blue());  // grey
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::TelemetryPlotsTest)
#include "TelemetryPlotsTest.moc"
