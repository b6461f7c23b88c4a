#include "cli/RobotCommands.h"

#include <CLI/CLI.hpp>

#include "cli/DecimalOption.h"
#include "cli/Messages.h"
#include "drivers/RegularFile.h"
#include "protocol/BaudRate.h"
#include "robot/IdList.h"

namespace mvx::cli {

namespace {

// Where new devices are looked for (assign) or the robot is searched (profile save).
void addCodeOptions(CLI::App* command, RobotOptions& r) {
    // Given empty, it is refused rather than taken for the default.
    command->add_option_function<std::string>(
        "--codes",
        [&r](const std::string& text) {
            r.codesText = text;
            r.codesGiven = true;
        },
        "Baud-rate codes to search, e.g. 1,34 or 1-4 (default: the nine common ones)");
    command->add_flag("--full", r.full, "Search all 255 baud-rate codes");
}

bool parseCodes(RobotOptions& r, std::ostream& err) {
    r.codes.clear();
    if (r.full && r.codesGiven) {
        printError(err, "--codes and --full exclude each other");
        return false;
    }
    if (r.full) {
        for (int code = 1; code <= 255; ++code) {
            r.codes.push_back(code);
        }
        return true;
    }
    if (!r.codesGiven) {
        r.codes.assign(kQuickSearchCodes.begin(), kQuickSearchCodes.end());
        return true;
    }
    std::string error;
    if (!parseNumberList(r.codesText, 0, 255, "baud-rate code", r.codes, error)) {
        printError(err, "--codes: " + error);
        return false;
    }
    return true;
}

}  // namespace

void addRobotCommands(CLI::App& app, CliOptions& o) {
    RobotOptions& r = o.robot;
    CLI::App* assign = app.add_subcommand(
        "assign", "Give new actuators their IDs one after the other, as they are connected");
    assign->add_option("--ids", r.idList, "IDs to give, in order, e.g. 1-12 or 1,2,5-8")
        ->required();
    assign
        ->add_option("--baud", r.targetCode,
                     "Baud-rate code every actuator ends at (1-255: no search visits code 0)")
        ->required()
        ->transform(decimalIn(0, 255));
    assign->add_option("--settings", r.settingsFile,
                       "Settings file (from backup) to restore onto each actuator");
    assign->add_flag("--network", r.network, "With --settings: also its return delay and level");
    addCodeOptions(assign, r);
    assign
        ->add_option("--return-delay", r.returnDelay,
                     "Return delay (0-255, units of 2 us) written to each actuator")
        ->transform(decimalIn(0, 255));

    CLI::App* profile =
        app.add_subcommand("profile",
                           "Save a robot's profile, check its bus against it, apply "
                           "it, or let a replacement take a joint's place");
    profile->require_subcommand(1);
    CLI::App* save = profile->add_subcommand("save", "Search the bus and save the robot's profile");
    save->add_option("-o,--output", r.output,
                     "Profile file to write (replaced only when complete); default stdout");
    addCodeOptions(save, r);
    CLI::App* check =
        profile->add_subcommand("check", "Compare the bus with a profile, one row per device");
    check->add_option("FILE", o.file, "Robot profile (.json)")->required();
    CLI::App* apply = profile->add_subcommand(
        "apply", "Write the profile's settings to the devices at their addresses");
    apply->add_option("FILE", o.file, "Robot profile (.json)")->required();
    apply->add_flag("--dry-run", r.dryRun, "Print the differences, write nothing");
    apply->add_flag("--network", r.network, "Also restore return delay and level");
    CLI::App* adopt = profile->add_subcommand(
        "adopt", "Give the one newcomer the missing joint's address and settings");
    adopt->add_option("FILE", o.file, "Robot profile (.json)")->required();
    for (CLI::App* action : {save, check, apply, adopt}) {
        action->callback([&r, action] { r.action = action->get_name(); });
    }
}

bool isRobotCommand(const std::string& command) {
    return command == "assign" || command == "profile";
}

bool validateRobotCommand(const std::string& command, CliOptions& o, std::ostream& err) {
    RobotOptions& r = o.robot;
    std::string error;
    if (command == "assign") {
        if (!parseNumberList(r.idList, 0, 253, "ID", r.ids, error)) {
            printError(err, "--ids: " + error);
            return false;
        }
        if (r.targetCode == 0) {
            // Code 0 is in no search: the actuators could not be found again.
            printError(err,
                       "--baud: no search visits code 0, the actuators would not be found "
                       "again (1-255)");
            return false;
        }
        if (r.network && r.settingsFile.empty()) {
            printError(err, "--network goes with --settings");
            return false;
        }
        if (!r.settingsFile.empty() && !readSettingsFile(r.settingsFile, r.settings, error)) {
            printError(err, error);
            return false;
        }
        return parseCodes(r, err);
    }
    if (r.action == "save") {
        // A FIFO, a device or a directory in the file's place is refused before the bus is
        // touched.
        if (!r.output.empty() && !checkWriteTarget(r.output, error)) {
            printError(err, error);
            return false;
        }
        return parseCodes(r, err);
    }
    if (!readProfileFile(o.file, r.profile, error)) {
        printError(err, error);
        return false;
    }
    return true;
}

int runRobotCommand(const std::string& command, CommandContext& context) {
    return command == "assign" ? assignCommand(context) : profileCommand(context);
}

}  // namespace mvx::cli
