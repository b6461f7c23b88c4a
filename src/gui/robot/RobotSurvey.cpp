#include "gui/robot/RobotSurvey.h"

#include "protocol/BaudRate.h"
#include "robot/ProfileFlows.h"

namespace mvx::gui {

Surveyed surveyOnBus(DeviceRegistry& registry, const std::vector<int>& codes,
                     const std::vector<DeviceAddress>& expected,
                     const std::shared_ptr<SurveyProgress>& progress) {
    Surveyed surveyed;
    surveyed.result = surveyBus(
        registry, codes, expected, &progress->stop,
        [progress](int, int percent) { progress->percent = percent; }, surveyed.found);
    surveyed.stopped = progress->stop.load();
    return surveyed;
}

std::vector<int> quickCodes() {
    return {kQuickSearchCodes.begin(), kQuickSearchCodes.end()};
}

}  // namespace mvx::gui
