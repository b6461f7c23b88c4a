// The samples of one telemetry session, kept compactly on the GUI thread: every read and every
// gap since the window opened or was cleared, on one time line that continues across pauses.
// Gives the plots the visible part of each quantity (thinned to a bounded number of points),
// the stretches the plots bridge without reads, the counts of the status line and the CSV.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

#include "device/TelemetrySampler.h"

namespace mvx::gui {

// One sample in 24 bytes. Positions are unsigned 16-bit registers, speed and load are signed
// (magnitude and direction bit), voltage (tenths of a volt) and temperature are single bytes.
struct TraceSample {
    enum Flag : std::uint8_t {
        Read = 1,      // a successful read; otherwise a gap
        Yielded = 2,   // a gap because the bus was in use by someone else
        RunStart = 4,  // the first sample after a start or a resume
        Moving = 8,
    };
    double timeS = 0.0;  // seconds since the session's first sample
    std::uint16_t presentPosition = 0;
    std::uint16_t goalPosition = 0;
    std::int16_t presentSpeed = 0;
    std::int16_t presentLoad = 0;
    std::uint8_t presentVoltage = 0;
    std::uint8_t presentTemperature = 0;
    std::uint8_t flags = 0;

    bool read() const { return (flags & Read) != 0; }
};

class TelemetryTrace {
public:
    enum Quantity {
        PresentPosition,
        GoalPosition,
        PresentSpeed,
        PresentLoad,
        Voltage,
        Temperature
    };

    // The next sample opens a new run (after a start, a resume or a restart after a refresh).
    void beginRun() { runStartPending_ = true; }
    // Adds a sample of a run that started at `runStartS` seconds of the clock (the sample's
    // own time is counted from there). The session's time starts at its first sample.
    void add(const StatusSample& sample, double runStartS);
    // Forgets every sample; the next one starts the session's time again.
    void clear();

    const std::vector<TraceSample>& samples() const { return samples_; }
    bool empty() const { return samples_.empty(); }
    double lastTimeS() const { return samples_.empty() ? 0.0 : samples_.back().timeS; }
    int readCount() const { return reads_; }
    int gapCount() const { return gaps_; }

    // Reads per second over the last `windowS` seconds of the current run; 0 with fewer than
    // two reads there.
    double recentRate(double windowS) const;

    // The points of `quantity` from `fromS` to `toS` (and the read just before, so the curve
    // reaches the left edge): every read when there are at most 2 x `buckets` of them, else
    // the lowest and the highest of each of `buckets` equal slices, in time order.
    QList<QPointF> points(Quantity quantity, double fromS, double toS, int buckets) const;
    // The lowest and highest value of `quantity` over the reads from `fromS` to `toS`; false
    // when there is none.
    bool valueRange(Quantity quantity, double fromS, double toS, double& low, double& high) const;
    // The stretches from `fromS` to `toS` over which the curves join two reads with gaps or a
    // pause between them (from the read before to the read after, or to the last gap).
    std::vector<std::pair<double, double>> unsampled(double fromS, double toS) const;

    // The reads as CSV: the header line, then one line per read (gaps are not rows), time in
    // seconds since the session's first sample with three decimals, voltage in volts.
    QByteArray csv() const;

    static double value(const TraceSample& sample, Quantity quantity);

private:
    // Index of the first sample at or after `timeS`.
    std::size_t lowerBound(double timeS) const;

    std::vector<TraceSample> samples_;
    double originS_ = 0.0;
    bool runStartPending_ = true;
    std::size_t runStartIndex_ = 0;
    int reads_ = 0;
    int gaps_ = 0;
};

}  // namespace mvx::gui
