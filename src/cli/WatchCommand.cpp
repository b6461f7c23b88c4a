// watch: the live status of one actuator as a stream of lines, CSV or JSON.
#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/Messages.h"
#include "cli/Session.h"
#include "device/DeviceEntry.h"
#include "device/TelemetrySampler.h"
#include "protocol/ResultCode.h"

namespace mvx::cli {

namespace {

constexpr const char* kCsvHeader =
    "time_s,present_position,present_speed,present_load,present_voltage,present_temperature,"
    "goal_position,moving";

std::string sampleLine(const StatusSample& s, bool json) {
    char line[256];
    const double volts = s.presentVoltage / 10.0;
    if (json) {
        std::snprintf(line, sizeof line,
                      "{\"time_s\":%.3f,\"present_position\":%d,\"present_speed\":%d,"
                      "\"present_load\":%d,\"present_voltage\":%.1f,\"present_temperature\":%d,"
                      "\"goal_position\":%d,\"moving\":%d}",
                      s.timeS, s.presentPosition, s.presentSpeed, s.presentLoad, volts,
                      s.presentTemperature, s.goalPosition, s.moving);
    } else {
        std::snprintf(line, sizeof line, "%.3f,%d,%d,%d,%.1f,%d,%d,%d", s.timeS, s.presentPosition,
                      s.presentSpeed, s.presentLoad, volts, s.presentTemperature, s.goalPosition,
                      s.moving);
    }
    return line;
}

std::string rateText(const char* format, double hz) {
    char text[32];
    std::snprintf(text, sizeof text, format, hz);
    return text;
}

// Tells once when the samples of a second came markedly slower than asked (a slow code, a
// slow adapter): the rate is judged over each second of samples in turn.
class RateWatch {
public:
    explicit RateWatch(double hz) : hz_(hz) {}

    // The kept rate when it is to be told now, else 0.
    double onSample(double timeS) {
        if (told_) {
            return 0;
        }
        if (windowStartS_ < 0) {
            windowStartS_ = timeS;
            return 0;
        }
        ++intervals_;
        const double span = timeS - windowStartS_;
        if (span < kWindowS) {
            return 0;
        }
        const double kept = intervals_ / span;
        windowStartS_ = timeS;
        intervals_ = 0;
        if (kept >= hz_ * kSlowFactor) {
            return 0;
        }
        told_ = true;
        return kept;
    }

private:
    static constexpr double kWindowS = 1.0;
    static constexpr double kSlowFactor = 0.9;
    double hz_;
    double windowStartS_ = -1;
    int intervals_ = 0;
    bool told_ = false;
};

}  // namespace

void addWatchCommand(CLI::App& app, CliOptions& o,
                     const std::function<void(CLI::App*)>& addAddress) {
    CLI::App* watch =
        app.add_subcommand("watch", "Stream an actuator's live status, one line per sample");
    addAddress(watch);
    watch->add_option("--rate", o.rate, "Samples per second (1-200)")
        ->capture_default_str()
        ->check(CLI::Range(1.0, 200.0));
    watch->add_option("--duration", o.duration, "Stop after this many seconds (default: Ctrl+C)")
        ->check(CLI::PositiveNumber);
    watch->add_flag("--csv", o.csv, "CSV lines after a header (the default; --json: JSON lines)");
}

int watchCommand(CommandContext& context) {
    const CliOptions& options = context.options;
    if (options.csv && options.json) {
        printError(context.err, "watch: --csv and --json exclude each other");
        return kExitBadInput;
    }
    std::unique_ptr<Session> session;
    if (const int status = openSession(context, session); status != kExitOk) {
        return status;
    }
    const std::string address = addressText(options.baud, options.id);
    DeviceEntry* entry = nullptr;
    if (const int result = session->probe(options.baud, options.id, entry); result != Success) {
        printError(context.err, "no device found at " + address + ": " + resultWords(result));
        return kExitFailed;
    }
    if (entry->modelClass() != Actuator || entry->returnLevel() < 1) {
        printError(context.err, address + ": not an actuator that answers reads; nothing to watch");
        return kExitFailed;
    }

    Clock& clock = session->port().clock();
    TelemetrySampler sampler(session->registry().bus(), clock, options.baud, options.id);
    sampler.setRate(options.rate);
    const InterruptScope interrupts;
    sampler.setStopFlag(&interruptFlag());

    const bool json = options.json;
    if (!json) {
        context.out << kCsvHeader << std::endl;
    }
    // The duration is checked before each sample: none is taken at or after its end.
    const auto durationUs = static_cast<std::int64_t>(options.duration * 1e6);
    std::int64_t startUs = -1;
    auto pastTheEnd = [&]() {
        const std::int64_t now = clock.nowUs();
        startUs = startUs < 0 ? now : startUs;
        if (durationUs > 0 && now - startUs >= durationUs) {
            sampler.stop();
            return true;
        }
        return false;
    };
    RateWatch rateWatch(options.rate);
    int lastFailure = Success;
    const TelemetrySampler::End end = sampler.run(pastTheEnd, [&](const StatusSample& s) {
        if (s.yielded) {
            return;
        }
        if (const double kept = rateWatch.onSample(s.timeS); kept > 0) {
            printWarning(context.err, address + ": the bus keeps " + rateText("%.1f", kept) +
                                          " Hz, not the " + rateText("%g", options.rate) +
                                          " Hz asked for; watching on at that rate");
        }
        if (!s.ok) {
            lastFailure = s.result;
            return;
        }
        context.out << sampleLine(s, json) << std::endl;
    });

    switch (end) {
        case TelemetrySampler::End::Stopped:
            return kExitOk;
        case TelemetrySampler::End::AdapterLost:
            printError(context.err,
                       std::string(kAccessFailedText) + " (" + resultWords(AdapterFailure) + ")");
            return kExitFailed;
        case TelemetrySampler::End::NoAnswer:
            break;
    }
    printError(context.err, address + ": no answer to " +
                                std::to_string(TelemetrySampler::kFailuresToStop) +
                                " status reads in a row: " + resultWords(lastFailure));
    return kExitFailed;
}

}  // namespace mvx::cli
