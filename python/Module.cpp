// The Python module movantrix: the library's Bus, Device, searches, settings files, robot flows
// and telemetry, for scripts.
#include <pybind11/stl.h>

#include "Bindings.h"

namespace movantrix::python {
namespace {

constexpr const char* kModuleDoc = R"(Movantrix smart actuators from Python.

    import movantrix
    with movantrix.open("sim", virtual_time=True) as bus:   # or "/dev/ttyUSB0", "0", "sim:FILE"
        for device in bus.scan():                           # the fast search
            print(device.code, device.id, device.model_name)
        bus.device(1, 3).write("goal-position", 512)         # movantrix.BusError on failure

Every call that goes to the bus releases the GIL; Ctrl+C stops a search, a restore, an assign,
a profile flow or a watch between its steps with KeyboardInterrupt.)";

}  // namespace

std::shared_ptr<movantrix::Bus> openBus(const std::string& port, bool virtualTime) {
    movantrix::OpenOptions options;
    options.virtualTime = virtualTime;
    py::gil_scoped_release release;
    return std::make_shared<movantrix::Bus>(movantrix::open(port, options));
}

}  // namespace movantrix::python

PYBIND11_MODULE(movantrix, m) {
    using namespace movantrix::python;
    m.doc() = kModuleDoc;
    m.attr("__version__") = movantrix::version();
    bindErrors(m);
    bindTypes(m);
    bindDevice(m);
    bindWatch(m);
    bindBus(m);
    m.def("open", &openBus, py::arg("port"), py::arg("virtual_time") = false,
          "Opens `port` exactly as movantrix-cli --port takes it: '0', '1', ... (an adapter of "
          "movantrix-cli ports), a serial device path ('/dev/ttyUSB0', or 'ttyUSB0'), 'sim' "
          "(the built-in simulated bus) or 'sim:FILE' (a bus description); a Bus.\n\n"
          "virtual_time: the simulated bus on a virtual clock, every pause of the protocol "
          "taking no time. ValueError for a malformed port text or bus description; "
          "AdapterLost when the adapter cannot be opened.");
    m.def("readable_registers", &movantrix::readableRegisters,
          "The register names Device.read() knows for an actuator, in address order.");
    m.def("writable_registers", &movantrix::writableRegisters,
          "The register names Device.write() takes.");
}
