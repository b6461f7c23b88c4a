// ports, scan and flash: the commands that work on the whole bus.
#include <atomic>
#include <memory>
#include <mutex>

#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/Messages.h"
#include "cli/ProgressBar.h"
#include "cli/ScanRows.h"
#include "cli/Session.h"
#include "cli/Trace.h"
#include "device/ModelCatalogue.h"
#include "firmware/FirmwareDownload.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UpdateResultText.h"
#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"
#include "search/SearchEngine.h"

namespace mvx::cli {

namespace {

// Searches the bus with a progress bar: the search on a worker thread, the bar redrawn
// from here. `rows` (may be null) prints each device as it is found and names what the search
// does on the bar; `interrupt` (may be null) stops the search when set.
int searchBus(Session& session, CommandContext& context, SearchEngine& engine, ScanRows* rows,
              const std::atomic<bool>* interrupt) {
    DeviceRegistry& registry = session.registry();
    ProgressBar bar(context.err, context.env.stderrIsTerminal(), "Searching");
    const int mode = context.options.full ? FullSearch : QuickSearch;
    const bool fast = context.options.fast;
    const FastSearchOptions options{
        .quickLook = context.options.quickLook, .observer = rows, .stop = interrupt};
    const int result = runWithProgress(
        [&engine, mode, fast, &options] {
            return fast ? engine.fastSearch(mode, options) : engine.search(mode);
        },
        [&registry, &bar, rows, interrupt] {
            if (interrupt != nullptr && interrupt->load() && registry.searching.load() != 0) {
                registry.stopSearch();
            }
            int code = 0;
            int id = 0;
            const int percent = registry.progress(code, id);
            if (rows != nullptr) {
                std::lock_guard lock(rows->mutex());
                bar.update(percent, rows->detail(code, id));
            } else {
                bar.update(percent, "code " + std::to_string(code) + " ID " + std::to_string(id));
            }
        },
        rows != nullptr ? 100 : 300);
    if (result == Success) {
        bar.finish();
    }
    return result;
}

}  // namespace

int openSession(CommandContext& context, std::unique_ptr<Session>& session) {
    session = makeSession(context.options.port, context.env, context.err);
    if (!session) {
        return kExitBadInput;
    }
    if (context.trace != nullptr) {
        session->registry().bus().setTap(context.trace->tapFor(session->port().clock()));
    }
    return session->open(context.err) ? kExitOk : kExitFailed;
}

int portsCommand(CommandContext& context) {
    auto session = makeSession(context.options.port, context.env, context.err);
    if (!session) {
        return kExitBadInput;
    }
    BusConnection& bus = session->registry().bus();
    const int count = bus.adapterCount();
    if (count < 0) {
        printError(context.err, "listing the adapters failed");
        return kExitFailed;
    }
    if (count == 0) {
        // An empty list is an answer, not a failure: nothing on stdout.
        printError(context.err, kNoAdapterText);
        return kExitOk;
    }
    for (int index = 0; index < count; ++index) {
        std::string name = kUnknownAdapterName;
        bus.adapterName(static_cast<std::uint32_t>(index), name);
        context.out << index << ": " << name << '\n';
    }
    return kExitOk;
}

int scanCommand(CommandContext& context) {
    std::unique_ptr<Session> session;
    if (const int status = openSession(context, session); status != kExitOk) {
        return status;
    }
    const CliOptions& options = context.options;
    // Ctrl+C ends the search with what it found so far, said to be unsure.
    const InterruptScope interrupts;
    SearchEngine engine(session->registry());
    ScanRows rows(context.out, context.err, context.env.stderrIsTerminal());
    const bool streamed = options.fast && !options.json;
    const int result =
        searchBus(*session, context, engine, streamed ? &rows : nullptr, &interruptFlag());
    if (result != Success) {
        printError(context.err, "search failed: " + resultWords(result));
        return kExitFailed;
    }
    const bool interrupted = interruptFlag().load();
    const auto devices = session->registry().snapshot();
    const int codesSearched = options.full ? 255 : static_cast<int>(kQuickSearchCodes.size());
    if (options.json) {
        nlohmann::json document = scanJson(devices);
        document["sure"] = engine.lastSearchSure();
        document["unsureCodes"] = engine.unsureCodes();
        context.out << document.dump(2) << '\n';
    } else {
        if (devices.empty()) {
            context.err << "No device found.\n";
        } else if (!streamed) {
            printDeviceTable(devices, context.out);
        }
        if (streamed || !engine.lastSearchSure()) {
            context.out << sureLine(engine.lastSearchSure(), engine.unsureCodes(), codesSearched,
                                    options.quickLook, interrupted)
                        << '\n';
        }
    }
    return interrupted ? kExitFailed : kExitOk;
}

int flashCommand(CommandContext& context) {
    const CliOptions& options = context.options;
    std::unique_ptr<Session> session;
    if (const int status = openSession(context, session); status != kExitOk) {
        return status;
    }
    // The update list is built from the devices found, so the bus is searched first.
    SearchEngine engine(session->registry());
    int result = searchBus(*session, context, engine, nullptr, nullptr);
    if (result != Success) {
        printError(context.err, "search failed: " + resultWords(result));
        return kExitFailed;
    }
    DeviceRegistry& registry = session->registry();
    // The image checked before the port was opened is the one sent: the file is not read
    // again, so a file replaced meanwhile changes nothing.
    registry.firmware = options.firmware;
    const int model = registry.firmware.modelNumber;
    const int version = registry.firmware.version;
    const std::string modelText =
        std::string(displayName(model)) + " (" + std::to_string(model) + ")";
    BuildUpdateList(registry, options.allVersions ? 0 : 1);
    UpdateList& updates = registry.updates;
    if (updates.count == 0) {
        printError(context.err, "no device of model " + modelText +
                                    (options.allVersions ? std::string(" found")
                                                         : " with a version below " +
                                                               std::to_string(version) + " found") +
                                    "; nothing updated");
        return kExitFailed;
    }
    context.out << "Firmware for model " << modelText << ", version " << version << "; "
                << updates.count << (updates.count == 1 ? " device" : " devices")
                << " to update:\n";
    for (int k = 0; k < updates.count; ++k) {
        const DeviceEntry* entry = registry.find(updates.baudCodes[k], updates.ids[k]);
        context.out << "  ID " << updates.ids[k] << " at code " << updates.baudCodes[k]
                    << " (version " << (entry ? entry->firmwareVersion() : 0) << ")\n";
    }
    context.out << std::flush;
    if (updates.leftOut > 0) {
        printError(context.err, "warning: " + std::to_string(updates.leftOut) + " more " +
                                    (updates.leftOut == 1 ? "device" : "devices") + " of model " +
                                    modelText + " left out: one run updates at most " +
                                    std::to_string(kUpdateListCapacity));
    }

    ProgressBar bar(context.err, context.env.stderrIsTerminal(), "Updating");
    result = runWithProgress([&registry] { return DownloadAll(registry); },
                             [&registry, &bar] { bar.update(DownloadProgress(registry)); });
    bar.finish();
    if (result == AdapterFailure) {
        printError(context.err,
                   std::string(kAccessFailedText) + " (" + resultWords(AdapterFailure) + ")");
    }

    int leftElsewhere = 0;
    for (int k = 0; k < updates.count; ++k) {
        const std::string device = "ID " + std::to_string(updates.ids[k]) + " at code " +
                                   std::to_string(updates.baudCodes[k]);
        if (const int leftAt = updates.leftAtCodes[k];
            updates.resultFlags[k] == UpdateSucceeded && leftAt >= 0) {
            ++leftElsewhere;
            printError(context.err, "warning: " + device + " was updated but now answers at code " +
                                        std::to_string(leftAt) +
                                        ": its baud rate could not be restored");
        }
        context.out << device << ": " << UpdateOutcomeText(updates, k) << '\n';
    }
    const UpdateTotals totals = CountUpdateResults(updates);
    context.out << UpdateTotalsText(totals) << '\n';
    const bool clean = result == Success && totals.succeeded == updates.count &&
                       leftElsewhere == 0 && updates.leftOut == 0;
    return clean ? kExitOk : kExitFailed;
}

}  // namespace mvx::cli
