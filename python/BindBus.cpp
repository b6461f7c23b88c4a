// Bus: the calls on the whole bus. The long ones (searches, restore, assign, profile flows)
// run with the GIL released and stop at Ctrl+C between their steps (PythonStop).
#include <pybind11/eval.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>

#include "Bindings.h"
#include "Interrupt.h"

namespace movantrix::python {

namespace {

using BusPtr = std::shared_ptr<movantrix::Bus>;
using Path = std::filesystem::path;

constexpr const char* kScanResultClass = R"(
class ScanResult(list):
    """The devices a search found, a list of Device in the order of the standard search.

    sure: every code searched was heard for as long as answers come; unsure_codes: the codes
    the fast search did not make sure of (a quick look, or answers that did not settle);
    stopped: the search was stopped before its end.
    """

    sure = True
    unsure_codes = ()
    stopped = False
)";

py::list devicesOf(const BusPtr& bus, const std::vector<movantrix::Device>& devices) {
    py::list result;
    for (const movantrix::Device& device : devices) {
        result.append(py::cast(PyDevice{device, bus}));
    }
    return result;
}

// Devices of a restore: Device objects or (code, id) pairs.
std::vector<movantrix::Address> addressesOf(const py::object& devices) {
    std::vector<movantrix::Address> result;
    if (devices.is_none()) {
        return result;
    }
    for (const py::handle& item : devices) {
        if (py::isinstance<PyDevice>(item)) {
            result.push_back(item.cast<const PyDevice&>().device.address());
        } else {
            const auto pair = item.cast<std::pair<int, int>>();
            result.push_back({pair.first, pair.second});
        }
    }
    return result;
}

void bindSearch(py::class_<movantrix::Bus, BusPtr>& bus) {
    bus.def(
           "scan",
           [](const BusPtr& self, bool full, bool fast,
              const std::optional<std::vector<int>>& codes, bool quickLook,
              const py::object& progress) {
               PythonStop stop;
               movantrix::ScanOptions options;
               options.full = full;
               options.fast = fast;
               options.codes = codes.value_or(std::vector<int>{});
               options.quickLook = quickLook;
               options.progress = stop.callback<int, int, int>(progress);
               options.stop = stop.stop();
               const movantrix::ScanResult found = stop.run([&] { return self->scan(options); });
               py::object result = py::module_::import("movantrix")
                                       .attr("ScanResult")(devicesOf(self, found.devices));
               result.attr("sure") = found.sure;
               result.attr("unsure_codes") = py::cast(found.unsureCodes);
               result.attr("stopped") = found.stopped;
               return result;
           },
           py::arg("full") = false, py::arg("fast") = true, py::arg("codes") = py::none(),
           py::arg("quick_look") = false, py::arg("progress") = py::none(),
           "Searches the bus; a ScanResult (a list of Device, with sure and unsure_codes).\n\n"
           "full: all 255 baud-rate codes, not only the nine common ones; fast: the fast "
           "search (waits timed from the adapter and the answers), else the standard one; "
           "codes: only these codes; quick_look: the fast search's short waits only, codes "
           "with no answer left unsure; progress: called as progress(percent, code, id) while "
           "it runs. Ctrl+C stops it with KeyboardInterrupt.")
        .def(
            "device",
            [](const BusPtr& self, int code, int id) {
                movantrix::Device device;
                {
                    py::gil_scoped_release release;
                    device = self->device(code, id);
                }
                return PyDevice{device, self};
            },
            py::arg("code"), py::arg("id"),
            "The device at baud-rate code `code`, ID `id`, its identity read; NoAnswer when "
            "nothing answers there.");
}

void bindSettingsFiles(py::class_<movantrix::Bus, BusPtr>& bus) {
    bus.def(
           "backup",
           [](const BusPtr& self, const PyDevice& device, const Path& path) {
               py::gil_scoped_release release;
               self->backup(device.device, path.string());
           },
           py::arg("device"), py::arg("path"),
           "Saves `device`'s settings to the settings file `path` (replaced only once "
           "complete).")
        .def(
            "restore",
            [](const BusPtr& self, const Path& path, const py::object& devices, bool network,
               bool dryRun, bool force) {
                PythonStop stop;
                movantrix::RestoreOptions options;
                options.devices = addressesOf(devices);
                options.network = network;
                options.dryRun = dryRun;
                options.force = force;
                options.stop = stop.stop();
                return stop.run([&] { return self->restore(path.string(), options); });
            },
            py::arg("path"), py::arg("devices") = py::none(), py::arg("network") = false,
            py::arg("dry_run") = false, py::arg("force") = false,
            "Writes a settings file's differences onto devices (movantrix-cli restore); a "
            "RestoreReport.\n\n"
            "devices: Device objects or (code, id) pairs (None: the address the file was taken "
            "at); network: the return delay and level too; dry_run: tell the differences, "
            "write nothing; force: another model too (only what fits its ranges). Ctrl+C "
            "stops it between devices.");
}

void bindFlows(py::class_<movantrix::Bus, BusPtr>& bus) {
    bus.def(
           "assign",
           [](const BusPtr& self, const std::vector<int>& ids, int baud,
              const std::optional<std::vector<int>>& codes, const std::optional<Path>& settings,
              const py::object& onEvent, bool network, const std::optional<int>& returnDelay) {
               PythonStop stop;
               movantrix::AssignOptions options;
               options.codes = codes.value_or(std::vector<int>{});
               options.settingsFile = settings ? settings->string() : std::string();
               options.network = network;
               options.returnDelay = returnDelay.value_or(-1);
               options.onEvent = stop.callback<const movantrix::AssignEvent&>(onEvent);
               options.stop = stop.stop();
               return stop.run([&] { return self->assign(ids, baud, options); });
           },
           py::arg("ids"), py::arg("baud"), py::arg("codes") = py::none(),
           py::arg("settings") = py::none(), py::arg("on_event") = py::none(),
           py::arg("network") = false, py::arg("return_delay") = py::none(),
           "Gives new actuators the IDs `ids`, in this order, at baud-rate code `baud`, one "
           "after the other as they are connected (movantrix-cli assign); an AssignReport.\n\n"
           "codes: where new actuators are looked for (None: the nine common codes); settings: "
           "a settings file restored onto each; network: its return delay and level too; "
           "return_delay: 0-255 written to each; on_event: called with each AssignEvent. "
           "Ctrl+C stops it after the actuator in hand, never in the middle of a move.")
        .def(
            "profile_save",
            [](const BusPtr& self, const Path& path, const std::optional<std::vector<int>>& codes,
               bool full, const py::object& progress) {
                PythonStop stop;
                movantrix::ProfileOptions options;
                options.codes = codes.value_or(std::vector<int>{});
                options.full = full;
                options.progress = stop.callback<int, int, int>(progress);
                options.stop = stop.stop();
                return stop.run([&] { return self->profileSave(path.string(), options); });
            },
            py::arg("path"), py::arg("codes") = py::none(), py::arg("full") = false,
            py::arg("progress") = py::none(),
            "Searches the bus and saves what is on it, with the actuators' settings, to the "
            "robot profile `path`; the ProfileDevice list saved.")
        .def(
            "profile_check",
            [](const BusPtr& self, const Path& path, const py::object& progress) {
                PythonStop stop;
                movantrix::ProfileOptions options;
                options.progress = stop.callback<int, int, int>(progress);
                options.stop = stop.stop();
                return stop.run([&] { return self->profileCheck(path.string(), options); });
            },
            py::arg("path"), py::arg("progress") = py::none(),
            "Checks the bus against the robot profile `path`: a list of CheckRow (also "
            "movantrix.Row), the profile's devices in its order, then the unexpected ones.")
        .def(
            "profile_apply",
            [](const BusPtr& self, const Path& path, bool network, bool dryRun) {
                PythonStop stop;
                movantrix::ProfileOptions options;
                options.network = network;
                options.dryRun = dryRun;
                options.stop = stop.stop();
                return stop.run([&] { return self->profileApply(path.string(), options); });
            },
            py::arg("path"), py::arg("network") = false, py::arg("dry_run") = false,
            "Writes the robot profile's settings onto its devices where they differ; a list "
            "of ApplyRow. network: the return delay and level too; dry_run: write nothing.")
        .def(
            "profile_adopt",
            [](const BusPtr& self, const Path& path) {
                PythonStop stop;
                movantrix::ProfileOptions options;
                options.stop = stop.stop();
                return stop.run([&] { return self->profileAdopt(path.string(), options); });
            },
            py::arg("path"),
            "Lets a replacement actuator take the place of the one device of the profile that "
            "is missing (same model, alone where nothing was expected); an AdoptReport.");
}

}  // namespace

void bindBus(py::module_& m) {
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    scope["__name__"] = "movantrix";
    py::exec(kScanResultClass, scope);
    m.attr("ScanResult") = scope["ScanResult"];

    py::class_<movantrix::Bus, BusPtr> bus(
        m, "Bus",
        "An open adapter and what works on the whole bus. A context manager: leaving its "
        "`with` block closes the adapter. Usable from any thread, one call at a time (calls "
        "made at once wait for each other).");
    bus.def("close", &movantrix::Bus::close, py::call_guard<py::gil_scoped_release>(),
            "Closes the adapter; the devices of this bus then raise AdapterLost. Idempotent.")
        .def_property_readonly("is_open", &movantrix::Bus::isOpen, "Whether the adapter is open.")
        .def_property_readonly("port", &movantrix::Bus::port, "The port as given to open().")
        .def("__enter__", [](const BusPtr& self) { return self; })
        .def(
            "__exit__",
            [](movantrix::Bus& self, const py::object&, const py::object&, const py::object&) {
                py::gil_scoped_release release;
                self.close();
                return false;
            },
            "Closes the adapter.")
        .def("__repr__", [](const movantrix::Bus& self) {
            return "<Bus " + self.port() + (self.isOpen() ? " open" : " closed") + ">";
        });
    bindSearch(bus);
    bindSettingsFiles(bus);
    bindFlows(bus);
}

}  // namespace movantrix::python
