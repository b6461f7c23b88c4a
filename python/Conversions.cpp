// The library's plain values in Python: register values, addresses, and the read-only classes
// of what the searches, transfers, robot flows and watches report.
#include <pybind11/stl.h>

#include "Bindings.h"

namespace movantrix::python {

py::object toPython(const movantrix::Value& value) {
    if (const int* number = std::get_if<int>(&value)) {
        return py::int_(*number);
    }
    if (const double* real = std::get_if<double>(&value)) {
        return py::float_(*real);
    }
    py::list names;
    for (const std::string& name : std::get<movantrix::Flags>(value)) {
        names.append(name);
    }
    return names;
}

py::dict toPython(const movantrix::Values& values) {
    py::dict result;
    for (const auto& [name, value] : values) {
        result[py::str(name)] = toPython(value);
    }
    return result;
}

py::object toPython(const movantrix::Address& address) {
    if (!address.valid()) {
        return py::none();
    }
    return py::make_tuple(address.code, address.id);
}

namespace {

py::list addresses(const std::vector<movantrix::Address>& list) {
    py::list result;
    for (const movantrix::Address& address : list) {
        result.append(toPython(address));
    }
    return result;
}

std::string addressText(const movantrix::Address& address) {
    if (!address.valid()) {
        return "None";
    }
    return "(" + std::to_string(address.code) + ", " + std::to_string(address.id) + ")";
}

const char* eventKindWord(movantrix::AssignEventKind kind) {
    using K = movantrix::AssignEventKind;
    switch (kind) {
        case K::Searching:
            return "searching";
        case K::Present:
            return "present";
        case K::Refused:
            return "refused";
        case K::Waiting:
            return "waiting";
        case K::StillLooking:
            return "still looking";
        case K::Trouble:
            return "trouble";
        case K::Ignored:
            return "ignored";
        case K::Row:
            return "row";
        case K::Finished:
            return "finished";
    }
    return "?";
}

// An Address member as a (code, id) property (None when there is none).
template <typename T>
auto addressOf(movantrix::Address T::*member) {
    return [member](const T& self) { return toPython(self.*member); };
}

void bindSettings(py::module_& m) {
    using D = movantrix::SettingDifference;
    py::class_<D>(m, "SettingDifference",
                  "One setting that differs between a device and a file (or a profile).")
        .def_readonly("name", &D::name, "The register name, e.g. 'max-torque'.")
        .def_property_readonly(
            "now", [](const D& d) { return toPython(d.now); }, "The value on the device.")
        .def_property_readonly(
            "wanted", [](const D& d) { return toPython(d.wanted); }, "The value in the file.")
        .def_readonly("skipped", &D::skipped, "Out of this model's range: reported, never written.")
        .def_readonly("skip_reason", &D::skipReason, "Why it was skipped.")
        .def("__repr__", [](const D& d) {
            return "<SettingDifference " + d.name + ": " +
                   py::repr(toPython(d.now)).cast<std::string>() + " -> " +
                   py::repr(toPython(d.wanted)).cast<std::string>() + ">";
        });

    using RR = movantrix::RestoreRow;
    py::class_<RR>(m, "RestoreRow", "What a restore did to one device.")
        .def_property_readonly("at", addressOf(&RR::at), "(code, id) of the device.")
        .def_readonly("model", &RR::model, "Its model number.")
        .def_readonly("differences", &RR::differences,
                      "What differed before, as SettingDifference.")
        .def_readonly("written", &RR::written, "Written and answered, in the order written.")
        .def_readonly("failed_at", &RR::failedAt,
                      "The setting whose write failed (it may have taken); empty if none.")
        .def_readonly("not_written", &RR::notWritten, "The settings after the one that failed.")
        .def_readonly("not_taken", &RR::notTaken, "Written, but read back with another value.")
        .def_readonly("result", &RR::result, "The first failure's result code (100: none).")
        .def_readonly("problem", &RR::problem, "Why it did not end well; empty when fine.")
        .def_property_readonly("ok", &RR::ok, "Whether the device was restored.")
        .def("__repr__", [](const RR& r) {
            return "<RestoreRow at " + addressText(r.at) + (r.ok() ? " ok" : " " + r.problem) + ">";
        });

    using RP = movantrix::RestoreReport;
    py::class_<RP>(m, "RestoreReport", "What Bus.restore() did.")
        .def_readonly("rows", &RP::rows, "One RestoreRow per device tried, in the order given.")
        .def_property_readonly(
            "not_tried", [](const RP& r) { return addresses(r.notTried); },
            "(code, id) of the devices not tried, after the adapter was lost or a stop.")
        .def_readonly("dry_run", &RP::dryRun, "Nothing was written, differences only.")
        .def_readonly("adapter_lost", &RP::adapterLost, "The adapter failed on the way.")
        .def_readonly("stopped", &RP::stopped, "Stopped before every device was tried.")
        .def_property_readonly("ok", &RP::ok,
                               "Every device restored (or, on a dry run, could be).");
}

void bindAssign(py::module_& m) {
    using R = movantrix::AssignRow;
    py::class_<R>(m, "AssignRow", "One ID of Bus.assign() and what became of it.")
        .def_readonly("id", &R::id, "The ID this row gives.")
        .def_readonly("code", &R::code, "At this baud-rate code.")
        .def_readonly("state", &R::state,
                      "'waiting', 'found', 'moved', 'restored', 'checked', 'skipped' or "
                      "'failed'.")
        .def_property_readonly("found_at", addressOf(&R::foundAt),
                               "(code, id) where the new actuator was found, or None.")
        .def_property_readonly("at", addressOf(&R::at), "(code, id) where it answers now, or None.")
        .def_readonly("model", &R::model, "Its model number (0 until found).")
        .def_readonly("model_name", &R::modelName, "Its model name.")
        .def_readonly("firmware", &R::firmware, "Its firmware version.")
        .def_readonly("settings_restored", &R::settingsRestored,
                      "The settings file's settings are on it.")
        .def_readonly("settings_written", &R::settingsWritten, "How many settings were written.")
        .def_readonly("already_there", &R::alreadyThere,
                      "Skipped: a device held the address before the run.")
        .def_readonly("reason", &R::reason, "Skipped, failed: why.")
        .def_readonly("line", &R::line, "The row in words, as movantrix-cli prints it.")
        .def("__repr__", [](const R& r) { return "<AssignRow " + r.line + ">"; });

    using E = movantrix::AssignEvent;
    py::class_<E>(m, "AssignEvent", "What Bus.assign() tells its on_event callback.")
        .def_property_readonly(
            "kind", [](const E& e) { return eventKindWord(e.kind); },
            "'searching', 'present', 'refused', 'waiting', 'still looking', 'trouble', "
            "'ignored', 'row' or 'finished'.")
        .def_readonly("index", &E::index, "The index of the row concerned, or -1.")
        .def_readonly("row", &E::row, "That AssignRow as it is now.")
        .def_readonly("text", &E::text, "The event in words.")
        .def("__repr__", [](const E& e) {
            return std::string("<AssignEvent ") + eventKindWord(e.kind) +
                   (e.index >= 0 ? " row " + std::to_string(e.index) : "") +
                   (e.text.empty() ? "" : ": " + e.text) + ">";
        });

    using P = movantrix::AssignReport;
    py::class_<P>(m, "AssignReport", "What Bus.assign() did.")
        .def_readonly("rows", &P::rows, "One AssignRow per ID, in the order given.")
        .def_readonly("refused", &P::refused, "The run did not start (see failure).")
        .def_readonly("stopped", &P::stopped, "Stopped before every ID was given.")
        .def_readonly("adapter_lost", &P::adapterLost, "The adapter failed.")
        .def_readonly("failure", &P::failure, "What ended the run early, in words.")
        .def_property_readonly(
            "pre_existing", [](const P& p) { return addresses(p.preExisting); },
            "(code, id) of every device that answered the first search (never touched).")
        .def_readonly("given", &P::given, "How many IDs were given and checked.")
        .def_readonly("summary", &P::summary, "The run in words.")
        .def_property_readonly("ok", &P::ok, "Every ID given or already there.");
}

void bindProfile(py::module_& m) {
    using PD = movantrix::ProfileDevice;
    py::class_<PD>(m, "ProfileDevice",
                   "A device of a robot profile, as Bus.profile_save() saved it.")
        .def_property_readonly("at", addressOf(&PD::at), "(code, id) of the device.")
        .def_readonly("model", &PD::model, "Its model number.")
        .def_readonly("model_name", &PD::modelName, "Its model name.")
        .def_readonly("firmware", &PD::firmware, "Its firmware version.")
        .def_readonly("has_settings", &PD::hasSettings, "Its settings are in the profile.")
        .def("__repr__", [](const PD& d) {
            return "<ProfileDevice " + d.modelName + " at " + addressText(d.at) + ">";
        });

    using C = movantrix::CheckRow;
    py::class_<C> row(m, "CheckRow",
                      "One row of Bus.profile_check(): a device and how it compares.");
    row.def_readonly("kind", &C::kind,
                     "'ok', 'missing', 'moved', 'other model', 'firmware differs', "
                     "'settings differ' or 'unexpected'.")
        .def_property_readonly("expected_at", addressOf(&C::expectedAt),
                               "(code, id) in the profile; None for an unexpected device.")
        .def_property_readonly("found_at", addressOf(&C::foundAt),
                               "(code, id) on the bus; None for a missing device.")
        .def_readonly("expected_model", &C::expectedModel, "The model in the profile.")
        .def_readonly("expected_firmware", &C::expectedFirmware, "The firmware in the profile.")
        .def_readonly("found_model", &C::foundModel, "The model on the bus.")
        .def_readonly("found_firmware", &C::foundFirmware, "The firmware on the bus.")
        .def_readonly("settings", &C::settings,
                      "The settings that differ (now: on the bus, wanted: in the profile).")
        .def_readonly("detail", &C::detail, "The differences in words; empty when ok.")
        .def_property_readonly("ok", &C::ok, "Whether the device is as the profile says.")
        .def("__repr__", [](const C& c) {
            const movantrix::Address at = c.expectedAt.valid() ? c.expectedAt : c.foundAt;
            return "<CheckRow " + addressText(at) + " " + c.kind +
                   (c.detail.empty() ? "" : ": " + c.detail) + ">";
        });
    m.attr("Row") = row;

    using A = movantrix::ApplyRow;
    py::class_<A>(m, "ApplyRow", "What Bus.profile_apply() did to one device.")
        .def_property_readonly("at", addressOf(&A::at), "(code, id) of the device.")
        .def_readonly("model", &A::model, "Its model number.")
        .def_readonly("changes", &A::changes, "The settings that differed, as SettingDifference.")
        .def_readonly("applied", &A::applied, "The changes were written.")
        .def_readonly("written", &A::written, "How many settings were written.")
        .def_readonly("result", &A::result, "The first failure's result code (100: none).")
        .def_readonly("problem", &A::problem, "Why nothing was written, or what went wrong.");

    using AR = movantrix::AdoptReport;
    py::class_<AR>(m, "AdoptReport", "What Bus.profile_adopt() did.")
        .def_readonly("refused", &AR::refused, "The rule does not hold: nothing was written.")
        .def_readonly("reason", &AR::reason, "Why it was refused, or what failed.")
        .def_property_readonly("newcomer", addressOf(&AR::from),
                               "(code, id) where the replacement was found.")
        .def_property_readonly("target", addressOf(&AR::to),
                               "(code, id) of the missing device it took the place of.")
        .def_readonly("result", &AR::result, "The result code (100: success).")
        .def_readonly("written", &AR::written, "How many settings were written.")
        .def_readonly("after", &AR::after, "The joint checked at its address afterwards.")
        .def_property_readonly("ok", &AR::ok, "Adopted and checked.");
}

void bindSample(py::module_& m) {
    using S = movantrix::Sample;
    py::class_<S>(m, "Sample",
                  "One sample of Device.watch(): its time, and the registers watched in their "
                  "units (sample['present-position']). A gap (ok False) has no values.")
        .def_readonly("time", &S::timeS, "Seconds since the first sample of the watch.")
        .def_readonly("ok", &S::ok, "False for a gap (a failed read).")
        .def_readonly("result", &S::result, "The read's result code (100 when ok).")
        .def_property_readonly(
            "values", [](const S& s) { return toPython(s.values); },
            "Register name -> value, for the names watched.")
        .def(
            "__getitem__",
            [](const S& s, const std::string& name) {
                const auto found = s.values.find(name);
                if (found == s.values.end()) {
                    throw py::key_error(name);
                }
                return toPython(found->second);
            },
            py::arg("name"), "The value of the register `name` in this sample.")
        .def("__repr__", [](const S& s) {
            return "<Sample " + std::to_string(s.timeS) + " s " +
                   (s.ok ? py::repr(toPython(s.values)).cast<std::string>()
                         : "gap (" + std::to_string(s.result) + ")") +
                   ">";
        });
}

}  // namespace

void bindTypes(py::module_& m) {
    bindSettings(m);
    bindAssign(m);
    bindProfile(m);
    bindSample(m);
}

}  // namespace movantrix::python
