// Device.watch(): an iterator of status samples. Each next() waits for the sample with the GIL
// released, in short waits, and lets Python handle Ctrl+C between them.
#include <pybind11/stl.h>

#include <chrono>

#include "Bindings.h"

namespace movantrix::python {

namespace {

// How long one wait for a sample lasts at most before Ctrl+C is looked at.
constexpr std::chrono::milliseconds kSignalLook{20};

struct PyWatch {
    std::unique_ptr<movantrix::Watch> watch;
    std::shared_ptr<movantrix::Bus> bus;

    // Ends the watch and frees the bus (the GIL released: the sampler's thread may want it
    // for nothing, but the end waits for the bus).
    void close() {
        std::unique_ptr<movantrix::Watch> ending = std::move(watch);
        if (ending) {
            py::gil_scoped_release release;
            ending->stop();
            ending.reset();
        }
    }
};

movantrix::Sample nextSample(PyWatch& w) {
    for (;;) {
        if (!w.watch) {
            throw py::stop_iteration();
        }
        std::optional<movantrix::Sample> sample;
        try {
            py::gil_scoped_release release;
            sample = w.watch->next(kSignalLook);
        } catch (...) {
            w.close();
            throw;
        }
        if (sample) {
            return std::move(*sample);
        }
        if (w.watch->ended()) {
            w.close();
            throw py::stop_iteration();
        }
        if (PyErr_CheckSignals() != 0) {
            py::error_already_set interrupt;
            w.close();
            throw interrupt;
        }
    }
}

}  // namespace

void bindWatch(py::module_& m) {
    py::class_<PyWatch>(m, "Watch",
                        "Status samples of one device at a steady rate, an iterator of Sample. "
                        "A gap (a failed read) comes as a Sample with ok False; five in a row "
                        "end the watch with NoAnswer, a lost adapter with AdapterLost. It takes "
                        "the bus for each sample only; close() it or leave its `with` block to "
                        "end it early. Ctrl+C ends it with KeyboardInterrupt.")
        .def("__iter__", [](PyWatch& w) -> PyWatch& { return w; })
        .def("__next__", &nextSample, "The next sample; waits until it falls due.")
        .def("close", &PyWatch::close, "Ends the watch and frees the bus.")
        .def_property_readonly(
            "ended", [](const PyWatch& w) { return !w.watch || w.watch->ended(); },
            "Whether the watch is over.")
        .def("__enter__", [](PyWatch& w) -> PyWatch& { return w; })
        .def("__exit__", [](PyWatch& w, const py::object&, const py::object&, const py::object&) {
            w.close();
            return false;
        });

    auto device = py::reinterpret_borrow<py::class_<PyDevice>>(m.attr("Device"));
    device.def(
        "watch",
        [](const PyDevice& d, const std::optional<std::vector<std::string>>& names, double rateHz,
           const std::optional<double>& duration) {
            auto result = std::make_unique<PyWatch>();
            result->bus = d.bus;
            const std::vector<std::string> watched = names.value_or(std::vector<std::string>{});
            py::gil_scoped_release release;
            result->watch = std::make_unique<movantrix::Watch>(
                d.bus->watch(d.device, watched, rateHz, duration.value_or(0.0)));
            return result;
        },
        py::arg("names") = py::none(), py::arg("rate_hz") = 50.0, py::arg("duration") = py::none(),
        "Watches the device's status block: a Watch, an iterator of Sample at `rate_hz` samples "
        "per second (at most 1000) for `duration` seconds (None: until closed or Ctrl+C). "
        "`names`: register names of the status block ('present-position', "
        "'present-voltage', ...); None: all of them.\n\n"
        "    for sample in device.watch(['present-position'], rate_hz=100, duration=5):\n"
        "        print(sample.time, sample['present-position'])");
}

}  // namespace movantrix::python
