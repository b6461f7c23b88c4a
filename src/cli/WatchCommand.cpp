// watch: the live status of one actuator as a stream of lines, CSV or JSON.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/Messages.h"
#include "cli/Session.h"
#include "device/DeviceEntry.h"
#include "device/StatusText.h"
#include "device/TelemetrySampler.h"
#include "protocol/ResultCode.h"

namespace mvx::cli {

namespace {

// The longest --duration: a year. Watching longer is watching until interrupted.
constexpr double kMaxDurationS = 365.0 * 24 * 3600;

// Adds `name`: a plain decimal number (digits with at most one point: no exponent, no hex, no
// "inf" or "nan") from `low` (or above it, when `lowIncluded` is false) to `high`, read into
// `target` the same in every locale; `range` tells the bounds in a refusal.
void addDecimalOption(CLI::App* app, const std::string& name, double& target, double low,
                      bool lowIncluded, double high, const std::string& range,
                      const std::string& help) {
    // The refusal, or empty with `value` set.
    auto read = [=](const std::string& text, double& value) -> std::string {
        const std::size_t start = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
        const std::string digits = text.substr(start);
        const auto point = digits.find('.');
        const bool plain =
            !digits.empty() && digits != "." && digits.find('.', point + 1) == std::string::npos &&
            std::all_of(digits.begin(), digits.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0 || c == '.'; });
        if (!plain) {
            return "\"" + text + "\" is not a decimal number (" + range + ")";
        }
        const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                            std::chars_format::fixed);
        if (start == 1 && text[0] == '-') {
            value = -value;
        }
        const bool inRange = parsed.ec == std::errc() && std::isfinite(value) &&
                             (lowIncluded ? value >= low : value > low) && value <= high;
        return inRange ? std::string() : text + " is out of range (" + range + ")";
    };
    app->add_option_function<std::string>(
           name,
           [read, &target](const std::string& text) {
               double value = 0;
               read(text, value);
               target = value;
           },
           help)
        ->type_name("DECIMAL")
        ->check(CLI::Validator(
            [read](std::string& text) {
                double value = 0;
                return read(text, value);
            },
            "", "DECIMAL"));
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
    addDecimalOption(watch, "--rate", o.rate, 1.0, true, 200.0, "1-200",
                     "Samples per second (1-200, default 10)");
    addDecimalOption(watch, "--duration", o.duration, 0.0, false, kMaxDurationS,
                     "more than 0, at most " + shortestText(kMaxDurationS) + " (a year)",
                     "Stop after this many seconds, at most a year (default: Ctrl+C)");
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

    // Output that does not reach its place (a full disk, a closed stdout) stops the watch;
    // run() tells it.
    const bool json = options.json;
    if (!json && !(context.out << kStatusCsvHeader << std::endl)) {
        return kExitFailed;
    }
    // The duration is checked before each sample: none is taken at or after its end. It is
    // at least a microsecond, so a tiny one does not pass for none (which runs until
    // interrupted).
    const std::int64_t durationUs =
        options.duration > 0 ? std::max<std::int64_t>(1, std::llround(options.duration * 1e6)) : 0;
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
    bool outputFailed = false;
    const TelemetrySampler::End end = sampler.run(pastTheEnd, [&](const StatusSample& s) {
        if (s.yielded) {
            return;
        }
        if (const double kept = rateWatch.onSample(s.timeS); kept > 0) {
            printWarning(context.err, address + ": the bus keeps " + fixedText(kept, 1) +
                                          " Hz, not the " + shortestText(options.rate) +
                                          " Hz asked for; watching on at that rate");
        }
        if (!s.ok) {
            lastFailure = s.result;
            return;
        }
        if (!(context.out << (json ? statusJsonLine(s) : statusCsvLine(s)) << std::endl)) {
            outputFailed = true;
            sampler.stop();
        }
    });
    if (outputFailed) {
        return kExitFailed;
    }

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
