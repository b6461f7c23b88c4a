#include "gui/app/ManagerApp.h"

namespace mvx::gui {

ManagerApp::ManagerApp(FtDriver& driver, Clock& clock, GuiOperations& operations)
    : clock_(clock), operations_(operations), registry_(driver, clock) {}

}  // namespace mvx::gui
