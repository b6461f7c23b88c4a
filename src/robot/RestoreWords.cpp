#include "robot/RestoreWords.h"

namespace mvx {

std::string restoreFailureWords(const RestoreResult& restored) {
    const std::string result =
        std::string(resultText(restored.result)) + " (" + std::to_string(restored.result) + ")";
    if (restored.readBackFailed()) {
        return "reading it back: " + result +
               "; written, not checked: " + settingNames(restored.written);
    }
    return std::string("writing ") + restored.failedAt->name + ": " + result +
           "; written: " + settingNames(restored.written) +
           "; not written: " + settingNames(restored.notWritten);
}

}  // namespace mvx
