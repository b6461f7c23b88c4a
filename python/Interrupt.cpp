#include "Interrupt.h"

namespace movantrix::python {

movantrix::Stop PythonStop::stop() {
    movantrix::Stop result;
    result.requested = [this] {
        py::gil_scoped_acquire gil;
        return pending_.has_value() || checkSignals();
    };
    return result;
}

bool PythonStop::checkSignals() {
    if (PyErr_CheckSignals() == 0) {
        return false;
    }
    pending_.emplace();  // takes the KeyboardInterrupt out of the interpreter, raised later
    return true;
}

void PythonStop::raisePending() {
    if (pending_) {
        py::error_already_set error = std::move(*pending_);
        pending_.reset();
        throw error;
    }
}

void PythonStop::guarded(const std::function<void()>& call) {
    try {
        py::gil_scoped_release release;
        call();
    } catch (...) {
        raisePending();
        throw;
    }
    // A Ctrl+C pressed after the last look of the call is the next statement's to raise.
    raisePending();
}

}  // namespace movantrix::python
