#include "robot/RestoreWords.h"

#include "device/ModelCatalogue.h"

namespace mvx {

std::string resultWords(int result) {
    return std::string(resultText(result)) + " (" + std::to_string(result) + ")";
}

std::string modelWords(int modelNumber) {
    return std::string(displayName(modelNumber)) + " (" + std::to_string(modelNumber) + ")";
}

std::string restoreFailureWords(const RestoreResult& restored) {
    if (restored.refused()) {
        return "refused, nothing written: " + restored.refusal;
    }
    const std::string result = resultWords(restored.result);
    if (restored.readBackFailed()) {
        return "reading it back: " + result +
               "; written, not checked: " + settingNames(restored.written);
    }
    return std::string("writing ") + restored.failedAt->name + ": " + result +
           "; written: " + settingNames(restored.written) +
           "; not written: " + settingNames(restored.notWritten);
}

std::string notTakenWords(const SettingChange& change) {
    return std::string(change.reg->name) + " did not take: wrote " +
           settingValueText(*change.reg, change.wanted) + ", the device holds " +
           settingValueText(*change.reg, change.now);
}

}  // namespace mvx
