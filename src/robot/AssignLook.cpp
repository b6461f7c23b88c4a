// Looking for the one new actuator: every code of the plan looked at again and again (a walk
// where devices answer already, else a broadcast) until exactly one address answers that did
// not before. Two new addresses, or an address whose answers come back broken because two
// devices share it, are trouble: reported, and nothing is taken until it is over.
#include "device/ModelCatalogue.h"
#include "protocol/ResultCode.h"
#include "robot/AssignRun.h"
#include "robot/RestoreWords.h"

namespace mvx {

void AssignFlow::Run::stillLooking() {
    if (waitRow_ < 0 || plan_.stillLookingUs <= 0 || clock().nowUs() < tellUs_) {
        return;
    }
    std::string codes;
    for (const int code : plan_.codes) {
        codes += (codes.empty() ? "" : ", ") + std::to_string(code);
    }
    const std::int64_t waitedS = (clock().nowUs() - waitSinceUs_) / 1000000;
    emit(AssignEventKind::StillLooking, waitRow_,
         "still looking at code" + std::string(plan_.codes.size() == 1 ? " " : "s ") + codes +
             " (waited " + std::to_string(waitedS) + " s)");
    while (tellUs_ <= clock().nowUs()) {
        tellUs_ += plan_.stillLookingUs;
    }
}

int AssignFlow::Run::lookAround(std::vector<DeviceAddress>& fresh, std::string& trouble) {
    fresh.clear();
    trouble.clear();
    auto tell = [&trouble](const std::string& what) {
        trouble += (trouble.empty() ? "" : "; ") + what;
    };
    std::vector<DeviceAddress> silentIgnored = ignored_;
    std::vector<int> codes = plan_.codes;
    bool round = true;  // every code looked at (else only the code of a direct answer)
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const int code = codes[i];
        if (stopped()) {
            return Success;
        }
        stillLooking();
        // Between codes, where new ones come: a ping there is answered at once, where a look
        // at a code waits for the whole time a broadcast's answers may take. A device that
        // answers is then taken only as the looks at its code and at the codes of known devices
        // see it (another new one there shows too); once this round has heard a new device it
        // goes on to its end instead.
        if (round && fresh.empty() && trouble.empty()) {
            std::vector<DeviceAddress> direct;
            if (const int result = askArrivals(direct, tell); result != Success) {
                return result;
            }
            if (!trouble.empty()) {
                return Success;
            }
            if (!direct.empty()) {
                // Its code, and every code where devices are known: a new device at the
                // address of one of them shows only in a walk there.
                codes.clear();
                for (const int c : plan_.codes) {
                    const bool held =
                        std::any_of(shared_.begin(), shared_.end(),
                                    [c](const DeviceAddress& a) { return a.code == c; });
                    if (c == direct.front().code || held || !registry_.idsAt(c).empty()) {
                        codes.push_back(c);
                    }
                }
                round = false;
                i = static_cast<std::size_t>(-1);
                continue;
            }
        }
        std::vector<int> known = registry_.idsAt(code);
        for (const DeviceAddress& a : shared_) {
            if (a.code == code) {
                known.push_back(a.id);
            }
        }
        // Where new ones come, several may come at once.
        std::vector<int> arrivalIds = {kFactoryId};
        for (const DeviceAddress& a : arrivals_) {
            if (a.code == code) {
                arrivalIds.push_back(a.id);
            }
        }
        CodeLook look;
        int result = Success;
        if (!known.empty()) {
            // Devices answer here: only a walk tells a new one from them. New devices may come
            // two to an address anywhere: every ID gets room for two answers.
            result = sweep_.walk(code, &stop_, look, true, arrivalIds);
        } else {
            result = sweep_.broadcast(code, look);
            if (result == Success && look.heard && (look.noise || !look.repeated.empty())) {
                // Whose answers were broken.
                result = sweep_.walk(code, &stop_, look, true, arrivalIds);
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
    if (!round) {
        silentIgnored.clear();  // not every code was looked at
    }
    for (const DeviceAddress& gone : silentIgnored) {
        const int index = registry_.indexOf(gone.code, gone.id);
        if (index >= 0) {
            registry_.removeAt(index);
        }
        std::erase(ignored_, gone);
    }
    if (fresh.size() > 1) {
        // Only addresses that answer when asked alone are named: a late answer of another
        // code's look may have been heard here.
        std::vector<DeviceAddress> sure;
        for (const DeviceAddress& at : fresh) {
            bool answered = false;
            if (const int result = sweep_.anyoneAt(at, answered); result != Success) {
                return result;
            }
            if (answered) {
                sure.push_back(at);
            }
        }
        fresh = sure;
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

int AssignFlow::Run::askArrivals(std::vector<DeviceAddress>& fresh,
                                 const std::function<void(const std::string&)>& tell) {
    // Where new actuators came so far, and the ID they leave the factory with at every code.
    std::vector<DeviceAddress> places = arrivals_;
    for (const int code : plan_.codes) {
        if (!contains(places, DeviceAddress{code, kFactoryId})) {
            places.push_back({code, kFactoryId});
        }
    }
    for (const DeviceAddress& at : places) {
        if (registry_.find(at.code, at.id) != nullptr || contains(shared_, at) ||
            contains(ignored_, at) || contains(report_.preExisting, at)) {
            continue;  // held: only a look tells a new device there from the one there
        }
        bool answered = false;
        bool broken = false;
        if (const int result = sweep_.anyoneAt(at, answered, &broken); result != Success) {
            return result;
        }
        if (broken) {
            tell("two new devices answer at " + addressWords(at));
            return Success;
        }
        if (answered) {
            fresh.push_back(at);
            return Success;
        }
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
    waitRow_ = k;
    waitSinceUs_ = clock().nowUs();
    tellUs_ = waitSinceUs_ + plan_.stillLookingUs;
    for (;;) {
        if (stopped()) {
            return Hunt::Stopped;
        }
        waitRow_ = k;
        std::vector<DeviceAddress> fresh;
        std::string trouble;
        if (const int result = lookAround(fresh, trouble); result != Success) {
            fail("looking at the bus failed: " + resultWords(result), result == AdapterFailure);
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
        ledsOff(true, false);  // the last one's LED goes dark once the next one is here
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
        waitRow_ = -1;  // found: no more "still looking" for this row
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

}  // namespace mvx
