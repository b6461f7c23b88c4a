#include "gui/pages/RecordLoad.h"

#include "device/ServoRecord.h"
#include "protocol/ResultCode.h"

namespace mvx::gui {

int loadWithRetry(ServoRecord& record, int kind) {
    int result = record.load(kind);
    if (result == Timeout || result == CorruptReply) {
        result = record.load(kind);
    }
    return result;
}

}  // namespace mvx::gui
