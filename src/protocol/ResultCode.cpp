#include "protocol/ResultCode.h"

namespace mvx {

const char* resultText(int result) {
    switch (result) {
        case Success:
            return "success";
        case AdapterFailure:
            return "adapter access failed";
        case WriteIncomplete:
            return "write incomplete";
        case Timeout:
            return "no reply (timeout)";
        case CorruptReply:
            return "corrupt reply";
        case Busy:
            return "busy";
        default:
            return "unknown result";
    }
}

}  // namespace mvx
