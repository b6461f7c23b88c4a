// The exceptions: BusError and its subclasses are Python classes of the module, with the
// result code and the core's words as attributes; the library's exceptions become them.
#include <stdexcept>

#include <pybind11/eval.h>

#include "Bindings.h"

namespace movantrix::python {

namespace {

constexpr const char* kErrorClasses = R"(
class BusError(Exception):
    """A bus operation failed.

    str(error) is the whole message ("code 1 ID 3: no reply"); result_code is the core's result
    code (101 adapter failure, 102 write incomplete, 103 no reply, 104 corrupt reply, 105 busy
    or refused) and words the core's words for it ("no reply").
    """

    def __init__(self, message="", result_code=0, words=""):
        super().__init__(message)
        self.result_code = result_code
        self.words = words

    def __reduce__(self):
        return (type(self), (str(self), self.result_code, self.words))


class Timeout(BusError):
    """A device did not answer, or not in full, within its reply window (result code 103)."""


class NoAnswer(Timeout):
    """Nothing answers at the address asked for (result code 103): Bus.device(), Device.ping()."""


class AdapterLost(BusError):
    """The adapter failed or is gone, or the Bus was closed (result code 101); open it again."""


class Refused(BusError):
    """The setter refused the value for this device before writing anything, or the device
    refused a raw write (result code 105)."""
)";

// The Python classes, kept for the translator (the module keeps them alive).
struct ErrorClasses {
    PyObject* busError = nullptr;
    PyObject* timeout = nullptr;
    PyObject* noAnswer = nullptr;
    PyObject* adapterLost = nullptr;
    PyObject* refused = nullptr;
};
ErrorClasses classes;

void raise(PyObject* type, const movantrix::BusError& error) {
    py::object instance =
        py::reinterpret_borrow<py::object>(type)(error.what(), error.resultCode(), error.words());
    PyErr_SetObject(type, instance.ptr());
}

}  // namespace

void bindErrors(py::module_& m) {
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    scope["__name__"] = "movantrix";
    py::exec(kErrorClasses, scope);
    for (const char* name : {"BusError", "Timeout", "NoAnswer", "AdapterLost", "Refused"}) {
        m.attr(name) = scope[name];
    }
    classes.busError = m.attr("BusError").ptr();
    classes.timeout = m.attr("Timeout").ptr();
    classes.noAnswer = m.attr("NoAnswer").ptr();
    classes.adapterLost = m.attr("AdapterLost").ptr();
    classes.refused = m.attr("Refused").ptr();

    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) {
                std::rethrow_exception(thrown);
            }
        } catch (const movantrix::NoAnswer& error) {
            raise(classes.noAnswer, error);
        } catch (const movantrix::Timeout& error) {
            raise(classes.timeout, error);
        } catch (const movantrix::AdapterLost& error) {
            raise(classes.adapterLost, error);
        } catch (const movantrix::Refused& error) {
            raise(classes.refused, error);
        } catch (const movantrix::BusError& error) {
            raise(classes.busError, error);
        }
    });
}

}  // namespace movantrix::python
