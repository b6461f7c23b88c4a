// One actuator placed: moved to its row's address (SafeMove; to a free ID first while new
// actuators still come to that address), given the settings file's settings and the return
// delay, read back there, and its LED lit for a while. A failure ends the row, or the run when
// the adapter failed or the actuator no longer answers (never go on blind).
#include "protocol/ResultCode.h"
#include "robot/AssignRun.h"
#include "robot/RestoreWords.h"

namespace mvx {

void AssignFlow::Run::failed(int k, int result, const std::string& what) {
    AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
    // Never go on blind: say every place it may answer at.
    const std::string where = moving_ ? "it may be at " + mayBeAtWords(movedFrom_, steps_)
                                      : "it is at " + addressWords(row.at);
    if (result == AdapterFailure) {
        const std::string why = what + ": the adapter failed (101); " + where;
        fail("ID " + std::to_string(row.id) + " " + why, true);
        setState(k, AssignState::Failed, why);
        return;
    }
    if (result == CorruptReply && !steps_.empty()) {
        // Broken answers where it went: a second device took the move's writes with it.
        const std::string why = what +
                                ": answers come back broken: two devices may now share "
                                "one address (a second actuator connected during the move took "
                                "the same writes); they may be at " +
                                mayBeAtWords(movedFrom_, steps_);
        fail("ID " + std::to_string(row.id) + " " + why, false);
        setState(k, AssignState::Failed, why);
        return;
    }
    if (result == Timeout) {
        const std::string why =
            what + ": no answer at " + addressWords(row.at) + "; " +
            (moving_ || !steps_.empty() ? "it may be at " + mayBeAtWords(movedFrom_, steps_)
                                        : where);
        fail("ID " + std::to_string(row.id) + " " + why, false);
        setState(k, AssignState::Failed, why);
        return;
    }
    setState(k, AssignState::Failed, what + ": " + resultWords(result));
}

void AssignFlow::Run::leave(int k, const DeviceAddress& at, const std::string& why) {
    setState(k, AssignState::Failed, why + "; left at " + addressWords(at));
    ignored_.push_back(at);  // not taken again while it answers there
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
        if (row.already || row.state != AssignState::Waiting) {
            ++k;  // there before the run, or taken by an actuator an earlier run left waiting
            continue;
        }
        row.foundAt = found;
        row.at = found;
        row.modelNumber = entry.modelNumber();
        row.firmwareVersion = entry.firmwareVersion();
        setState(k, AssignState::Found);
        const DeviceAddress target{row.code, row.id};
        // New actuators come to the target: it stays free until the last one.
        bool later = false;  // another ID still to give after this one
        for (int j = k + 1; j < n && !later; ++j) {
            const AssignRow& next = report_.rows[static_cast<std::size_t>(j)];
            later = !next.already && next.state == AssignState::Waiting;
        }
        const bool park = later && contains(arrivals_, target);
        DeviceAddress to = target;
        if (park && takeLeftParked(k)) {
            ++k;  // one left waiting by an earlier run is this row's; the newcomer takes the next
            if (ended_) {
                return;
            }
            continue;
        }
        if (park) {
            int id = -1;
            if (const int looked = parkingId(entry, id); looked == AdapterFailure) {
                failed(k, looked, "looking for a free ID");
                ++k;
                return;
            } else if (looked != Success) {
                leave(k, found, "looking for a free ID: " + resultWords(looked));
                ++k;
                return;
            }
            if (id < 0) {
                // Every new actuator comes to this address: none could ever be placed.
                const std::string why = "no free ID at code " + std::to_string(row.code) +
                                        " to wait at while new actuators come to " +
                                        addressWords(target);
                leave(k, found, why);
                fail(why + "; the run cannot go on (leave an ID at code " +
                         std::to_string(row.code) + " out of the IDs to give)",
                     false);
                ++k;
                return;
            }
            to = {row.code, id};
        }
        MoveOutcome moved;
        movedFrom_ = found;
        moving_ = true;
        const int result = move_.run(entry, to, moved);
        row.at = moved.at;
        steps_ = moved.steps;
        if (result == Success && moved.targetTaken) {
            moving_ = false;
            row.foundAt = {};
            setState(k, AssignState::Skipped, addressWords(target) + " is " + moved.holder);
            ++k;
            continue;  // the same actuator, the next ID
        }
        if (result == Busy) {
            leave(k, found, "no way to " + addressWords(to) + " through free addresses");
            ++k;
            return;
        }
        if (result != Success && result != AdapterFailure && moved.steps.empty()) {
            // A look before the first write failed: it was not moved.
            leave(k, found, "the move: " + resultWords(result) + " before anything was written");
            ++k;
            return;
        }
        if (result != Success) {
            row.at = moved.steps.empty() ? found : to;
            failed(k, result == AdapterFailure || result == CorruptReply ? result : Timeout,
                   "the move");
            moving_ = false;
            ++k;
            return;
        }
        moving_ = false;
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
        const std::vector<SettingChange> changes =
            settingsDifferences(now, wanted(), plan_.network, entry.servoRecord()->maxPosition());
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
            setState(k, AssignState::Failed, notTakenWords(restored.notTaken.front()));
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
        for (const SettingChange& c : settingsDifferences(now, wanted(), plan_.network,
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

void AssignFlow::Run::ledsOff(bool all, bool wait) {
    wait = wait && all && !stopped() && !ended_;
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

}  // namespace mvx
