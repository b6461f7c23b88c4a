#include "robot/AssignFlow.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "device/SettingsTransfer.h"
#include "protocol/ResultCode.h"
#include "robot/BusSweep.h"
#include "robot/RestoreWords.h"
#include "robot/SafeMove.h"

namespace mvx {

namespace {

constexpr const char* kOneAtATime = "Connect one new actuator at a time";

DeviceAddress addressOf(const DeviceEntry& entry) {
    return {entry.baudCode(), entry.id()};
}

std::string deviceWords(const DeviceEntry& entry) {
    return std::string(displayName(entry.modelNumber())) + " v" +
           std::to_string(entry.firmwareVersion());
}

std::string modelWords(int modelNumber) {
    return std::string(displayName(modelNumber)) + " (" + std::to_string(modelNumber) + ")";
}

template <typename T>
bool contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

class AssignFlow::Run {
public:
    Run(DeviceRegistry& registry, AssignObserver& observer, const AssignPlan& plan,
        const std::atomic<bool>& stop)
        : registry_(registry),
          observer_(observer),
          plan_(plan),
          stop_(stop),
          sweep_(registry),
          move_(registry, sweep_) {}

    AssignReport go();

private:
    enum class Hunt { Found, Stopped, Failed };
    struct Led {
        DeviceEntry* entry;
        std::int64_t offUs;
    };

    bool stopped() const { return stop_.load(); }
    Clock& clock() { return registry_.bus().clock(); }
    void emit(AssignEventKind kind, int index, std::string text = {});
    void setState(int index, AssignState state, std::string reason = {});
    // Ends the run for a reason that forbids going on.
    void fail(std::string why, bool adapter);
    // The first search; false when the run must not start.
    bool survey();
    // Looks at the bus again and again until exactly one new actuator answers for row `k`.
    Hunt hunt(int k, DeviceEntry*& entry);
    // One look at every code: the new addresses, and what forbids taking any (in words).
    int lookAround(std::vector<DeviceAddress>& fresh, std::string& trouble);
    // Gives the actuator found for row `k` its address, settings and check; `k` moves on past
    // the rows used (a skipped row included).
    void place(int& k, DeviceEntry& entry);
    // The settings, the return delay and the check at the actuator's address; false when the
    // row failed (the run may have been ended too).
    bool finish(int k, DeviceEntry& entry);
    // Reads the device back: 100 with `why` empty when it holds what it should.
    int check(DeviceEntry& entry, const AssignRow& row, std::string& why);
    // A failure of `result` while working on the actuator of row `k`: a lost adapter or a
    // device that stopped answering ends the run (naming where it may be: where it was, the
    // addresses of its last move), anything else fails the row.
    void failed(int k, int result, const std::string& what);
    // A free ID at the target code for an actuator to wait at, or -1.
    int parkingId(DeviceEntry& entry);
    // The parked actuators to their addresses, now that no more new ones come.
    void unpark();
    void lightLed(DeviceEntry& entry);
    // Switches off the LEDs whose time is over (all of them with `all`, after their time
    // unless the run was stopped).
    void ledsOff(bool all);

    DeviceRegistry& registry_;
    AssignObserver& observer_;
    const AssignPlan& plan_;
    const std::atomic<bool>& stop_;
    BusSweep sweep_;
    SafeMove move_;
    AssignReport report_;
    bool ended_ = false;                   // a failure forbids going on
    std::vector<DeviceAddress> arrivals_;  // where new actuators were found
    std::vector<DeviceAddress> ignored_;   // new devices not taken (while they answer)
    std::vector<DeviceAddress> shared_;    // addresses two devices answered at, at the start
    std::vector<std::pair<int, DeviceEntry*>> parked_;
    // The actuator in hand: where its last move began and every address it may answer at
    // since.
    DeviceAddress movedFrom_;
    std::vector<DeviceAddress> way_;
    std::vector<Led> leds_;
};

void AssignFlow::Run::emit(AssignEventKind kind, int index, std::string text) {
    AssignEvent event;
    event.kind = kind;
    event.index = index;
    if (index >= 0) {
        event.row = report_.rows[static_cast<std::size_t>(index)];
    }
    event.text = std::move(text);
    observer_.onAssignEvent(event);
}

void AssignFlow::Run::setState(int index, AssignState state, std::string reason) {
    AssignRow& row = report_.rows[static_cast<std::size_t>(index)];
    row.state = state;
    if (!reason.empty()) {
        row.reason = std::move(reason);
    }
    emit(AssignEventKind::Row, index);
}

void AssignFlow::Run::fail(std::string why, bool adapter) {
    ended_ = true;
    report_.adapterLost = report_.adapterLost || adapter;
    if (report_.failure.empty()) {
        report_.failure = std::move(why);
    }
}

AssignReport AssignFlow::Run::go() {
    for (const int id : plan_.ids) {
        AssignRow row;
        row.id = id;
        row.code = plan_.targetCode;
        report_.rows.push_back(row);
    }
    std::vector<int> seen;
    bool planned = plan_.targetCode >= 0 && plan_.targetCode <= 255;
    for (const int id : plan_.ids) {
        planned = planned && id >= 0 && id <= 253 && !contains(seen, id);
        seen.push_back(id);
    }
    for (const int code : plan_.codes) {
        planned = planned && code >= 0 && code <= 255;
    }
    if (!planned || !registry_.bus().link() || registry_.clear() != Success) {
        report_.refused = true;
        report_.adapterLost = planned && !registry_.bus().link();
        report_.failure = !planned              ? "the IDs or codes are not valid"
                          : report_.adapterLost ? "the adapter is not open"
                                                : "a search is running";
        emit(AssignEventKind::Refused, -1, report_.failure);
        emit(AssignEventKind::Finished, -1, report_.summary());
        return report_;
    }
    if (survey()) {
        const int n = static_cast<int>(report_.rows.size());
        int k = 0;
        while (k < n && !ended_) {
            if (stopped()) {
                report_.stopped = true;
                break;
            }
            emit(AssignEventKind::Waiting, k);
            DeviceEntry* entry = nullptr;
            const Hunt hunt = this->hunt(k, entry);
            if (hunt == Hunt::Stopped) {
                report_.stopped = true;
                break;
            }
            if (hunt == Hunt::Failed) {
                break;
            }
            place(k, *entry);
        }
        if (!ended_) {
            unpark();
        }
    }
    ledsOff(true);
    emit(AssignEventKind::Finished, -1, report_.summary());
    return report_;
}

bool AssignFlow::Run::survey() {
    std::vector<int> codes = plan_.codes;
    if (!contains(codes, plan_.targetCode)) {
        codes.push_back(plan_.targetCode);
    }
    emit(AssignEventKind::Searching, -1, "Looking for the devices on the bus already");
    std::vector<CodeLook> looks;
    if (const int result = sweep_.search(codes, &stop_, {}, looks); result != Success) {
        fail(std::string("the search failed: ") + resultText(result) + " (" +
                 std::to_string(result) + ")",
             result == AdapterFailure);
        return false;
    }
    if (stopped()) {
        report_.stopped = true;
        return false;
    }
    for (const DeviceSummary& d : registry_.snapshot()) {
        report_.preExisting.push_back({d.baudCode, d.id});
    }
    for (const CodeLook& look : looks) {
        for (const std::vector<int>* ids : {&look.garbled, &look.repeated}) {
            for (const int id : *ids) {
                shared_.push_back({look.code, id});
                move_.avoid({look.code, id});
            }
        }
    }
    // A target held already refuses the run: it would be skipped anyway.
    std::string held;
    for (const AssignRow& row : report_.rows) {
        const DeviceAddress target{row.code, row.id};
        const DeviceEntry* holder = registry_.find(target.code, target.id);
        if (holder != nullptr || contains(shared_, target)) {
            held += std::string(held.empty() ? "" : "; ") + addressWords(target) + " is held by " +
                    (holder != nullptr ? deviceWords(*holder) : std::string("two devices"));
        }
    }
    if (!held.empty()) {
        report_.refused = true;
        report_.failure = held +
                          " (on the bus before; leave those IDs out, or move the device "
                          "away first)";
        emit(AssignEventKind::Refused, -1, report_.failure);
        return false;
    }
    return true;
}

int AssignFlow::Run::lookAround(std::vector<DeviceAddress>& fresh, std::string& trouble) {
    fresh.clear();
    trouble.clear();
    auto tell = [&trouble](const std::string& what) {
        trouble += (trouble.empty() ? "" : "; ") + what;
    };
    std::vector<DeviceAddress> silentIgnored = ignored_;
    for (const int code : plan_.codes) {
        if (stopped()) {
            return Success;
        }
        std::vector<int> known = registry_.idsAt(code);
        for (const DeviceAddress& a : shared_) {
            if (a.code == code) {
                known.push_back(a.id);
            }
        }
        CodeLook look;
        int result = Success;
        if (!known.empty()) {
            // Devices answer here: only a walk tells a new one from them.
            result = sweep_.walk(code, &stop_, look);
        } else {
            result = sweep_.broadcast(code, look);
            if (result == Success && look.heard && (look.noise || !look.repeated.empty())) {
                result = sweep_.walk(code, &stop_, look);  // whose answers were broken
            }
        }
        if (result != Success) {
            return result;
        }
        if (!look.complete) {
            return Success;
        }
        for (const int id : look.answered) {
            const DeviceAddress at{code, id};
            std::erase(silentIgnored, at);
            if (!contains(known, id)) {
                fresh.push_back(at);
            }
        }
        std::vector<int> shared = look.garbled;
        for (const int id : look.repeated) {
            if (!contains(shared, id)) {
                shared.push_back(id);
            }
        }
        std::sort(shared.begin(), shared.end());
        for (const int id : shared) {
            const DeviceAddress at{code, id};
            std::erase(silentIgnored, at);
            tell(contains(known, id) ? "a new device answers at " + addressWords(at) +
                                           " together with the device there"
                                     : "two new devices answer at " + addressWords(at));
        }
        if (look.noise) {
            tell("answers at code " + std::to_string(code) + " come back broken");
        }
        // Not walked: the ignored devices at this code stay ignored.
        if (!look.walked) {
            std::erase_if(silentIgnored, [code](const DeviceAddress& a) { return a.code == code; });
        }
    }
    // An ignored device that no longer answers is forgotten: a new one may come to its address.
    for (const DeviceAddress& gone : silentIgnored) {
        const int index = registry_.indexOf(gone.code, gone.id);
        if (index >= 0) {
            registry_.removeAt(index);
        }
        std::erase(ignored_, gone);
    }
    if (fresh.size() > 1) {
        std::string list;
        for (const DeviceAddress& a : fresh) {
            list += (list.empty() ? "" : " and ") + addressWords(a);
        }
        tell("new devices at " + list);
    }
    return Success;
}

AssignFlow::Run::Hunt AssignFlow::Run::hunt(int k, DeviceEntry*& entry) {
    std::string told;  // the trouble last reported
    auto report = [&](const std::string& trouble) {
        if (trouble != told) {
            told = trouble;
            if (trouble.empty()) {
                emit(AssignEventKind::Waiting, k);
            } else {
                emit(AssignEventKind::Trouble, k,
                     std::string(kOneAtATime) + ": " + trouble + "; nothing moved");
            }
        }
    };
    for (;;) {
        ledsOff(false);
        if (stopped()) {
            return Hunt::Stopped;
        }
        std::vector<DeviceAddress> fresh;
        std::string trouble;
        if (const int result = lookAround(fresh, trouble); result != Success) {
            fail(std::string("looking at the bus failed: ") + resultText(result) + " (" +
                     std::to_string(result) + ")",
                 result == AdapterFailure);
            return Hunt::Failed;
        }
        if (stopped()) {
            return Hunt::Stopped;
        }
        if (!trouble.empty() || fresh.empty()) {
            report(trouble);
            continue;
        }
        const DeviceAddress candidate = fresh.front();
        const int result = sweep_.probe(candidate, entry);
        if (result == AdapterFailure) {
            fail("the adapter failed (101)", true);
            return Hunt::Failed;
        }
        if (result == CorruptReply) {
            report("two new devices answer at " + addressWords(candidate));
            continue;
        }
        if (result != Success) {
            continue;  // gone again
        }
        report({});
        std::string unfit;
        if (entry->modelClass() != Actuator || entry->servoRecord() == nullptr) {
            unfit = deviceWords(*entry) + " (" + classText(entry->modelClass()) +
                    ") is not an actuator that answers reads";
        } else if (plan_.settings && entry->modelNumber() != plan_.settings->modelNumber) {
            unfit = "the new actuator is " + modelWords(entry->modelNumber()) +
                    ", the settings file holds settings of " +
                    modelWords(plan_.settings->modelNumber);
        }
        if (!unfit.empty()) {
            ignored_.push_back(candidate);
            emit(AssignEventKind::Ignored, k,
                 addressWords(candidate) + ": " + unfit + "; left where it is");
            continue;
        }
        return Hunt::Found;
    }
}

int AssignFlow::Run::parkingId(DeviceEntry& entry) {
    for (int id = 253; id >= 0; --id) {
        const DeviceAddress at{plan_.targetCode, id};
        if (contains(plan_.ids, id) || contains(arrivals_, at)) {
            continue;
        }
        bool free = false;
        std::string why;
        if (move_.isFree(entry, at, true, free, why) != Success) {
            return -2;
        }
        if (free) {
            return id;
        }
    }
    return -1;
}

void AssignFlow::Run::failed(int k, int result, const std::string& what) {
    AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
    if (result == AdapterFailure) {
        fail("the adapter failed (101)", true);
        setState(k, AssignState::Failed, what + ": the adapter failed (101)");
        return;
    }
    if (result == Timeout) {
        // Never go on blind: say every place it may answer at.
        std::string where = addressWords(movedFrom_) + " (where it was)";
        for (std::size_t i = 0; i < way_.size(); ++i) {
            where += (i + 1 == way_.size() ? " or " : ", ") + addressWords(way_[i]);
        }
        const std::string why =
            what + ": no answer at " + addressWords(row.at) + "; it may be at " + where;
        fail("ID " + std::to_string(row.id) + " " + why, false);
        setState(k, AssignState::Failed, why);
        return;
    }
    setState(k, AssignState::Failed,
             what + ": " + resultText(result) + " (" + std::to_string(result) + ")");
}

// Every address a device answers at on its way along `steps` from `from`, each once.
static std::vector<DeviceAddress> addressesAlong(const DeviceAddress& from,
                                                 const std::vector<DeviceAddress>& steps) {
    std::vector<DeviceAddress> way;
    DeviceAddress at = from;
    for (const DeviceAddress& step : steps) {
        for (const auto& [code, id] :
             DeviceRegistry::addressesOnTheWay(at.code, at.id, step.code, step.id)) {
            if (!contains(way, DeviceAddress{code, id}) && DeviceAddress{code, id} != from) {
                way.push_back({code, id});
            }
        }
        at = step;
    }
    return way;
}

void AssignFlow::Run::place(int& k, DeviceEntry& entry) {
    const int n = static_cast<int>(report_.rows.size());
    const DeviceAddress found = addressOf(entry);
    if (!contains(arrivals_, found)) {
        arrivals_.push_back(found);
        move_.avoid(found);
    }
    while (k < n) {
        AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
        row.foundAt = found;
        row.at = found;
        row.modelNumber = entry.modelNumber();
        row.firmwareVersion = entry.firmwareVersion();
        setState(k, AssignState::Found);
        const DeviceAddress target{row.code, row.id};
        // New actuators come to the target: it stays free until the last one.
        const bool park = k + 1 < n && contains(arrivals_, target);
        DeviceAddress to = target;
        if (park) {
            const int id = parkingId(entry);
            if (id < -1) {
                failed(k, AdapterFailure, "looking for a free ID");
                ++k;
                return;
            }
            if (id < 0) {
                setState(k, AssignState::Failed,
                         "no free ID at code " + std::to_string(row.code) +
                             " to wait at while new actuators come to " + addressWords(target));
                ++k;
                return;
            }
            to = {row.code, id};
        }
        MoveOutcome moved;
        const int result = move_.run(entry, to, moved);
        row.at = moved.at;
        movedFrom_ = found;
        way_ = addressesAlong(found, moved.steps);
        if (result == Success && moved.targetTaken) {
            row.foundAt = {};
            setState(k, AssignState::Skipped, addressWords(target) + " is " + moved.holder);
            ++k;
            continue;  // the same actuator, the next ID
        }
        if (result == Busy) {
            setState(k, AssignState::Failed,
                     "no way to " + addressWords(to) + " through free addresses; left at " +
                         addressWords(found));
            ignored_.push_back(found);
            ++k;
            return;
        }
        if (result != Success) {
            row.at = to;
            failed(k, result == AdapterFailure ? AdapterFailure : Timeout, "the move");
            ++k;
            return;
        }
        if (park) {
            row.parkedAt = to;
            parked_.emplace_back(k, &entry);
        }
        setState(k, AssignState::Moved);
        finish(k, entry);
        ++k;
        return;
    }
    // Every ID left was held: the actuator stays where it is.
    ignored_.push_back(found);
    emit(AssignEventKind::Ignored, -1,
         addressWords(found) + ": no ID left for the new actuator; left where it is");
}

bool AssignFlow::Run::finish(int k, DeviceEntry& entry) {
    AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
    if (plan_.settings) {
        DeviceSettings now;
        int result = readDeviceSettings(entry, {}, now);
        if (result != Success) {
            failed(k, result, "reading its settings");
            return false;
        }
        const std::vector<SettingChange> changes = settingsDifferences(
            now, *plan_.settings, plan_.network, entry.servoRecord()->maxPosition());
        const RestoreResult restored = restoreSettings(registry_, entry, changes);
        if (restored.result == AdapterFailure || restored.result == Timeout) {
            failed(k, restored.result,
                   restored.writeFailed() ? std::string("writing ") + restored.failedAt->name
                                          : std::string("reading its settings back"));
            return false;
        }
        if (restored.result != Success) {
            setState(k, AssignState::Failed, restoreFailureWords(restored));
            return false;
        }
        if (!restored.notTaken.empty()) {
            const SettingChange& c = restored.notTaken.front();
            setState(k, AssignState::Failed,
                     std::string(c.reg->name) + " did not take: wrote " +
                         settingValueText(*c.reg, c.wanted) + ", the device holds " +
                         settingValueText(*c.reg, c.now));
            return false;
        }
        row.settingsRestored = true;
        row.settingsWritten = static_cast<int>(restored.written.size());
        setState(k, AssignState::Restored);
    }
    if (plan_.returnDelay >= 0) {
        const int result = entry.setReturnDelay(plan_.returnDelay);
        if (result != Success) {
            failed(k, result, "writing the return delay");
            return false;
        }
    }
    std::string why;
    const int result = check(entry, row, why);
    if (result != Success) {
        failed(k, result, "the check");
        return false;
    }
    if (!why.empty()) {
        setState(k, AssignState::Failed, "the check: " + why);
        return false;
    }
    setState(k, AssignState::Checked);
    lightLed(entry);
    return true;
}

int AssignFlow::Run::check(DeviceEntry& entry, const AssignRow& row, std::string& why) {
    why.clear();
    DeviceSettings now;
    const int result = readDeviceSettings(entry, {}, now);
    if (result != Success) {
        return result;
    }
    const DeviceAddress at = addressOf(entry);
    if (now.registers[3] != at.id || now.registers[4] != at.code) {
        why = "it holds ID " + std::to_string(now.registers[3]) + " and code " +
              std::to_string(now.registers[4]);
    } else if (entry.modelNumber() != row.modelNumber) {
        why = "it now reads as " + modelWords(entry.modelNumber());
    } else if (plan_.settings) {
        for (const SettingChange& c : settingsDifferences(now, *plan_.settings, plan_.network,
                                                          entry.servoRecord()->maxPosition())) {
            if (!c.skipped) {
                why = std::string(c.reg->name) + " is " + settingValueText(*c.reg, c.now) +
                      ", not " + settingValueText(*c.reg, c.wanted);
                break;
            }
        }
    }
    if (why.empty() && plan_.returnDelay >= 0 && entry.returnDelay() != plan_.returnDelay) {
        why = "its return delay is " + std::to_string(entry.returnDelay());
    }
    return Success;
}

void AssignFlow::Run::unpark() {
    for (const auto& [k, entry] : parked_) {
        AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
        if (row.state != AssignState::Checked || ended_) {
            continue;
        }
        const DeviceAddress target{row.code, row.id};
        MoveOutcome moved;
        const int result = move_.run(*entry, target, moved);
        row.at = moved.at;
        movedFrom_ = row.parkedAt;
        way_ = addressesAlong(row.parkedAt, moved.steps);
        if (result == Success && moved.targetTaken) {
            setState(k, AssignState::Failed,
                     addressWords(target) + " is " + moved.holder + "; it stays at " +
                         addressWords(row.parkedAt));
            continue;
        }
        if (result != Success) {
            row.at = target;
            failed(k, result == AdapterFailure ? AdapterFailure : Timeout, "the move");
            return;
        }
        setState(k, AssignState::Moved);
        std::string why;
        const int checked = check(*entry, row, why);
        if (checked != Success) {
            failed(k, checked, "the check");
            return;
        }
        if (!why.empty()) {
            setState(k, AssignState::Failed, "the check: " + why);
            continue;
        }
        setState(k, AssignState::Checked);
        lightLed(*entry);
    }
}

void AssignFlow::Run::lightLed(DeviceEntry& entry) {
    ServoRecord* record = entry.servoRecord();
    if (record == nullptr || plan_.ledOnUs <= 0) {
        return;
    }
    // Off after its time, while the next actuator is looked for. A failure only costs the
    // light; a lost adapter shows at the next step.
    if (record->setLed(1) == Success) {
        std::erase_if(leds_, [&entry](const Led& led) { return led.entry == &entry; });
        leds_.push_back({&entry, clock().nowUs() + plan_.ledOnUs});
    }
}

void AssignFlow::Run::ledsOff(bool all) {
    const bool wait = all && !stopped() && !ended_;
    for (auto it = leds_.begin(); it != leds_.end();) {
        if (!all && clock().nowUs() < it->offUs) {
            ++it;
            continue;
        }
        if (wait) {
            clock().sleepUntilUs(it->offUs);
        }
        // A device unplugged meanwhile cannot be switched off, nor needs to be.
        if (sweep_.tune(it->entry->baudCode()) == Success && it->entry->servoRecord() != nullptr) {
            it->entry->servoRecord()->setLed(0);
        }
        it = leds_.erase(it);
    }
}

AssignFlow::AssignFlow(DeviceRegistry& registry, AssignObserver& observer)
    : registry_(registry), observer_(observer) {}

AssignReport AssignFlow::run(const AssignPlan& plan, const std::atomic<bool>& stop) {
    Run run(registry_, observer_, plan, stop);
    return run.go();
}

}  // namespace mvx
