// The read a device page makes when it is activated.
#pragma once

namespace mvx {
class ServoRecord;
}

namespace mvx::gui {

// Loads `kind` into the record, once more when the first read timed out or came back corrupt.
int loadWithRetry(ServoRecord& record, int kind);

}  // namespace mvx::gui
