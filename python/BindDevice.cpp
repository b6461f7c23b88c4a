// Device: its address and identity, and the calls on it. Every call that goes to the bus runs
// with the GIL released.
#include <pybind11/stl.h>

#include <climits>

#include "Bindings.h"

namespace movantrix::python {

namespace {

using Release = py::call_guard<py::gil_scoped_release>;

// Writes a Python value: a bool or int as a number, a float as volts, a str as movantrix-cli
// set takes it, a list of flag names. An int beyond the registers' numbers goes as its digits,
// so that the range check words it as the command line does.
void writeValue(movantrix::Device& device, const std::string& name, const py::handle& value) {
    if (py::isinstance<py::bool_>(value) || py::isinstance<py::int_>(value)) {
        const py::int_ number = py::reinterpret_borrow<py::int_>(value);
        const bool fits = number >= py::int_(INT_MIN) && number <= py::int_(INT_MAX);
        if (!fits) {
            const std::string text = py::repr(number).cast<std::string>();
            py::gil_scoped_release release;
            device.write(name, text);
            return;
        }
        const movantrix::Value raw = number.cast<int>();
        py::gil_scoped_release release;
        device.write(name, raw);
        return;
    }
    if (py::isinstance<py::float_>(value)) {
        const movantrix::Value volts = value.cast<double>();
        py::gil_scoped_release release;
        device.write(name, volts);
        return;
    }
    if (py::isinstance<py::str>(value)) {
        const std::string text = value.cast<std::string>();
        py::gil_scoped_release release;
        device.write(name, text);
        return;
    }
    if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
        movantrix::Flags flags;
        for (const py::handle& item : value) {
            if (!py::isinstance<py::str>(item)) {
                throw py::type_error(name + ": flag names must be str, not " +
                                     std::string(py::str(item.get_type().attr("__name__"))));
            }
            flags.push_back(item.cast<std::string>());
        }
        const movantrix::Value list = std::move(flags);
        py::gil_scoped_release release;
        device.write(name, list);
        return;
    }
    throw py::type_error(name +
                         ": a value is an int, a float, a str or a list of flag names, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
}

}  // namespace

void bindDevice(py::module_& m) {
    py::class_<PyDevice>(m, "Device",
                         "One device on an open Bus: its address and identity as found, and the "
                         "calls on it. Each call tunes the bus to the device's baud-rate code. "
                         "Using a device after its Bus was closed raises AdapterLost.")
        .def_property_readonly(
            "code", [](const PyDevice& d) { return d.device.code(); },
            "The baud-rate code (0-255) it answers at.")
        .def_property_readonly(
            "id", [](const PyDevice& d) { return d.device.id(); }, "Its ID (0-253).")
        .def_property_readonly(
            "address", [](const PyDevice& d) { return toPython(d.device.address()); },
            "(code, id).")
        .def_property_readonly(
            "model", [](const PyDevice& d) { return d.device.model(); }, "Its model number.")
        .def_property_readonly(
            "model_name", [](const PyDevice& d) { return d.device.modelName(); },
            "Its model name, e.g. 'MQ-35'.")
        .def_property_readonly(
            "firmware", [](const PyDevice& d) { return d.device.firmware(); },
            "Its firmware version.")
        .def_property_readonly(
            "return_level", [](const PyDevice& d) { return d.device.returnLevel(); },
            "Its return level: 0 answers pings only, 1 reads too, 2 every instruction.")
        .def_property_readonly(
            "is_actuator", [](const PyDevice& d) { return d.device.isActuator(); },
            "Whether it is an actuator (it has servo registers).")
        .def(
            "read",
            [](const PyDevice& d, const std::string& name) {
                movantrix::Value value;
                {
                    py::gil_scoped_release release;
                    value = d.device.read(name);
                }
                return toPython(value);
            },
            py::arg("name"),
            "The register `name` (movantrix-cli's names: 'goal-position', 'present-voltage', "
            "'alarm-shutdown', ...) read from the device in its unit: an int, volts as a "
            "float, or a list of flag names. ValueError for a name this model does not have.")
        .def(
            "write",
            [](PyDevice& d, const std::string& name, const py::object& value) {
                writeValue(d.device, name, value);
            },
            py::arg("name"), py::arg("value"),
            "Writes the register `name` through its setter with the setter's rules (ranges, "
            "the model's max position, the device's waits). `value` is an int (a switch takes "
            "True/False), volts as a float, a str as movantrix-cli set takes it ('on', '14.5', "
            "'overload,range') or a list of flag names. 'id' and 'baud' move the device and "
            "this object follows it. ValueError with the command line's message for an "
            "unknown name or a value out of range; Refused when the device cannot take it.")
        .def(
            "read_raw",
            [](const PyDevice& d, int address, int length) {
                std::vector<std::uint8_t> bytes;
                {
                    py::gil_scoped_release release;
                    bytes = d.device.readRaw(address, length);
                }
                return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            },
            py::arg("address"), py::arg("length"),
            "The raw control-table bytes from `address` on, `length` of them (1-150).")
        .def(
            "write_raw",
            [](PyDevice& d, int address, int value, bool word) {
                d.device.writeRaw(address, value, word);
            },
            py::arg("address"), py::arg("value"), py::arg("word") = false, Release(),
            "Writes one byte (0-255) at `address`, or with word=True a little-endian word "
            "(0-65535). Refused when the device answers with an instruction, range or checksum "
            "error.")
        .def(
            "status",
            [](const PyDevice& d) {
                movantrix::Values values;
                {
                    py::gil_scoped_release release;
                    values = d.device.status();
                }
                return toPython(values);
            },
            "The status block in one read, by register name in units: 'present-position', "
            "'present-speed', 'present-load', 'present-voltage' (volts), "
            "'present-temperature' (degrees Celsius), 'moving', ...")
        .def(
            "settings",
            [](const PyDevice& d) {
                movantrix::Values values;
                {
                    py::gil_scoped_release release;
                    values = d.device.settings();
                }
                return toPython(values);
            },
            "The settings as a settings file (Bus.backup) holds them, by register name.")
        .def(
            "ping", [](const PyDevice& d) { d.device.ping(); }, Release(),
            "Pings the device; NoAnswer when it does not answer.")
        .def(
            "led", [](PyDevice& d, bool on) { d.device.led(on); }, py::arg("on"), Release(),
            "Lights its LED (True) or puts it out (False).")
        .def("__eq__",
             [](const PyDevice& a, const PyDevice& b) {
                 return a.bus == b.bus && a.device.address() == b.device.address();
             })
        .def("__hash__", [](const PyDevice& d) { return py::hash(toPython(d.device.address())); })
        .def("__repr__", [](const PyDevice& d) {
            return "<Device " + d.device.modelName() + " at code " +
                   std::to_string(d.device.code()) + " ID " + std::to_string(d.device.id()) +
                   " firmware " + std::to_string(d.device.firmware()) + ">";
        });
}

}  // namespace movantrix::python
