// Bus: opening, closing, the searches and finding one device.
#include <algorithm>
#include <stdexcept>

#include "device/DeviceEntry.h"
#include "device/NamedRegister.h"
#include "device/RegisterTable.h"
#include "facade/BusState.h"
#include "facade/FacadeErrors.h"
#include "facade/FlowValues.h"
#include "facade/LongCall.h"
#include "movantrix/bus.h"
#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"
#include "robot/BusSweep.h"
#include "search/SearchEngine.h"

namespace movantrix {

namespace {

// Calls `progress` on the calling thread whenever the registry's progress moves.
class ProgressTicker {
public:
    ProgressTicker(mvx::DeviceRegistry& registry, const SearchProgress& progress)
        : registry_(registry), progress_(progress) {}
    void operator()() {
        if (!progress_) {
            return;
        }
        int code = 0;
        int id = 0;
        const int percent = registry_.progress(code, id);
        if (percent != percent_ || code != code_ || id != id_) {
            percent_ = percent;
            code_ = code;
            id_ = id;
            progress_(percent, code, id);
        }
    }

private:
    mvx::DeviceRegistry& registry_;
    const SearchProgress& progress_;
    int percent_ = -1;
    int code_ = -1;
    int id_ = -1;
};

}  // namespace

Bus::Bus(std::shared_ptr<detail::BusState> state) : state_(std::move(state)) {}
Bus::Bus(Bus&&) noexcept = default;
Bus& Bus::operator=(Bus&&) noexcept = default;

Bus::~Bus() {
    if (state_) {
        try {
            close();
        } catch (const std::exception&) {
            // Destroyed by a callback of its own long call: the call closes nothing; the last
            // holder of the connection (a Device or the call) does.
        }
    }
}

void Bus::close() {
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    state.close();
}

bool Bus::isOpen() const {
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    return state.isOpen();
}

const std::string& Bus::port() const {
    return detail::busOf(state_).portText();
}

Bus open(const std::string& port, const OpenOptions& options) {
    return Bus(detail::BusState::open(port, options));
}

ScanResult Bus::scan(const ScanOptions& options) {
    const std::vector<int> codes = detail::checkCodes(options.codes, options.full);
    if (options.quickLook && !options.fast) {
        throw std::invalid_argument("quickLook goes with the fast search (fast = true)");
    }
    if (!options.codes.empty() && options.full) {
        throw std::invalid_argument("codes and full exclude each other");
    }
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    mvx::DeviceRegistry& registry = state.registry();
    // The standard search stops by the registry's flag, the others by the call's.
    detail::LongCall call(options.stop, [&registry] {
        if (registry.searching.load() != 0) {
            registry.stopSearch();
        }
    });
    ScanResult scanned;
    bool searched = false;
    int result = mvx::Success;
    ProgressTicker ticker(registry, options.progress);
    if (!options.codes.empty()) {
        // Only the codes asked for: the robot flows' sure look at each.
        std::vector<mvx::CodeLook> looks;
        call.run([&] {
            if (call.stopped()) {
                return;
            }
            searched = true;
            result = registry.clear();
            if (result != mvx::Success) {
                return;
            }
            mvx::BusSweep sweep(registry);
            const SearchProgress& progress = options.progress;
            result = sweep.search(
                codes, &call.flag(),
                [&call, &progress](int code, int percent) {
                    if (progress) {
                        call.post([&progress, code, percent] { progress(percent, code, 0); });
                    }
                },
                looks);
        });
        std::vector<int> unsure = codes;
        for (const mvx::CodeLook& look : looks) {
            if (look.sure && look.complete) {
                std::erase(unsure, look.code);
            }
        }
        std::sort(unsure.begin(), unsure.end());
        scanned.unsureCodes = unsure;
    } else {
        mvx::SearchEngine engine(registry);
        const int mode = options.full ? mvx::FullSearch : mvx::QuickSearch;
        const mvx::FastSearchOptions fastOptions{
            .quickLook = options.quickLook, .observer = nullptr, .stop = &call.flag()};
        call.run(
            [&] {
                if (call.stopped()) {
                    return;
                }
                searched = true;
                result = options.fast ? engine.fastSearch(mode, fastOptions) : engine.search(mode);
            },
            [&] {
                // A stop that came while the standard search was starting.
                if (call.stopped() && registry.searching.load() != 0) {
                    registry.stopSearch();
                }
                ticker();
            });
        scanned.unsureCodes = engine.unsureCodes();
    }
    detail::check(result, "search failed");
    scanned.stopped = call.stopped();
    scanned.sure = scanned.unsureCodes.empty() && !scanned.stopped;
    if (!searched) {
        scanned.unsureCodes = codes;  // stopped before it began: nothing searched
        scanned.sure = false;
        return scanned;
    }
    for (const mvx::DeviceSummary& summary : registry.snapshot()) {
        scanned.devices.push_back(state.deviceOf(state_, summary));
    }
    return scanned;
}

Device Bus::device(int code, int id) {
    detail::checkAddress(code, id);
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    return state.deviceOf(state_, mvx::summaryOf(state.entry(code, id, true)));
}

std::vector<std::string> readableRegisters() {
    std::vector<std::string> names;
    for (int address = 0; address < 256; ++address) {
        const mvx::RegisterItem* item = mvx::registerItemAt(address);
        if (item != nullptr && item->access != mvx::RegisterAccess::KeyedWrite) {
            names.emplace_back(item->name);
        }
    }
    names.emplace_back("wheel-mode");
    return names;
}

std::vector<std::string> writableRegisters() {
    std::vector<std::string> names;
    for (const mvx::NamedRegister& reg : mvx::namedRegisters()) {
        names.emplace_back(reg.name);
    }
    return names;
}

const char* version() {
    return MOVANTRIX_VERSION;
}

}  // namespace movantrix
