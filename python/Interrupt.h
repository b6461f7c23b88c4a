// Ctrl+C and Python callbacks during a long call (search, restore, assign, profile flows,
// watch). The call runs with the GIL released; the library asks its stop predicate on this
// thread between steps. The predicate takes the GIL for a moment and lets Python run its signal
// handlers: a KeyboardInterrupt (or any exception of a progress or event callback) stops the
// call there, and is raised once the call has come back, so nothing is left half-done.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <optional>
#include <type_traits>

#include <movantrix/movantrix.h>

namespace movantrix::python {

namespace py = pybind11;

class PythonStop {
public:
    PythonStop() = default;
    PythonStop(const PythonStop&) = delete;
    PythonStop& operator=(const PythonStop&) = delete;

    // The library's Stop, asking this object. Called with the GIL released.
    movantrix::Stop stop();

    // Wraps a Python callable (None: an empty function) so that it is called with the GIL
    // held and an exception it raises is kept and stops the call. `function` must outlive the
    // call.
    template <typename... Args>
    std::function<void(Args...)> callback(const py::object& function) {
        if (function.is_none()) {
            return {};
        }
        // The library may copy the function on a thread without the GIL: it holds a pointer to
        // the caller's object (alive for the whole call), never a reference count of its own.
        return [this, target = &function](Args... args) {
            py::gil_scoped_acquire gil;
            if (pending_) {
                return;
            }
            try {
                (*target)(args...);
            } catch (py::error_already_set& error) {
                pending_.emplace(std::move(error));
            }
        };
    }

    // Whether Ctrl+C was pressed or a callback raised. Needs the GIL.
    bool pending() const { return pending_.has_value(); }
    // Raises what stopped the call, if anything. Needs the GIL.
    void raisePending();

    // Runs `call` with the GIL released; afterwards raises what stopped it (before any failure
    // of the call itself, which a stop may have caused). Needs the GIL.
    template <typename Call>
    auto run(Call&& call) -> decltype(call()) {
        using Result = decltype(call());
        if constexpr (std::is_void_v<Result>) {
            guarded([&call] { call(); });
        } else {
            std::optional<Result> result;
            guarded([&call, &result] { result.emplace(call()); });
            return std::move(*result);
        }
    }

private:
    void guarded(const std::function<void()>& call);
    // Lets Python handle signals; true when that raised (KeyboardInterrupt). Needs the GIL.
    bool checkSignals();

    std::optional<py::error_already_set> pending_;
};

}  // namespace movantrix::python
