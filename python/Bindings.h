// What the parts of the Python module share: the Python-side holders of a Bus and a Device,
// and the functions that add each part to the module.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include <movantrix/movantrix.h>

namespace movantrix::python {

namespace py = pybind11;

// A Device as Python sees it: the library's value and the Bus it was found on (kept alive,
// so that Device.watch() reaches the bus and a device outlives a dropped Bus object).
struct PyDevice {
    movantrix::Device device;
    std::shared_ptr<movantrix::Bus> bus;
};

// A register value in Python: int, float, or a list of flag names.
py::object toPython(const movantrix::Value& value);
// Name -> value as a dict.
py::dict toPython(const movantrix::Values& values);
// (code, id).
py::object toPython(const movantrix::Address& address);

void bindErrors(py::module_& m);
void bindTypes(py::module_& m);
void bindDevice(py::module_& m);
void bindBus(py::module_& m);
void bindWatch(py::module_& m);

}  // namespace movantrix::python
