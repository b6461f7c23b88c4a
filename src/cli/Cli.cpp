#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <map>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/DecimalOption.h"
#include "cli/Messages.h"
#include "cli/NamedRegister.h"
#include "cli/RobotCommands.h"
#include "cli/SettingsCommands.h"
#include "cli/Trace.h"
#include "drivers/RegularFile.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UpdateList.h"
#include "protocol/Packet.h"

namespace mvx::cli {

namespace {

std::string registerNamesHelp() {
    std::string text = "Registers:\n";
    for (const auto& reg : namedRegisters()) {
        std::string name = std::string("  ") + reg.name;
        name.resize(std::max<std::size_t>(name.size() + 1, 26), ' ');
        text += name + reg.help + "\n";
    }
    return text;
}

// Checks what the parser could not: ranges that depend on other arguments, register names
// and values, the firmware file. False with the reason printed.
bool validate(const std::string& command, CliOptions& o, std::ostream& err) {
    std::string error;
    o.port.virtualTime = o.virtualTime;
    if (!parsePortSpec(o.portText, o.port, error)) {
        printError(err, "--port: " + error);
        return false;
    }
    if (command == "read" && o.address + o.length > 256) {
        printError(err, "read: registers " + std::to_string(o.address) + " to " +
                            std::to_string(o.address + o.length - 1) +
                            " run past the end of the control table (255)");
        return false;
    }
    if (command == "write") {
        // Its range depends on --word; any number of digits is told as out of range, never
        // passed on wrapped around.
        const int max = o.word ? 65535 : 255;
        int value = 0;
        const DecimalRead read = readDecimal(o.valueText, 0, max, value);
        if (read == DecimalRead::NotANumber) {
            printError(err, "VALUE: \"" + o.valueText + "\" is not a number");
            return false;
        }
        if (read == DecimalRead::OutOfRange) {
            printError(err, "write: value " + o.valueText + " is out of range (0-" +
                                std::to_string(max) + (o.word ? " for a word)" : " for a byte)"));
            return false;
        }
        o.value = value;
        if (o.word && o.address > 254) {
            printError(err, "write: a word at register 255 runs past the control table");
            return false;
        }
    }
    if (command == "set") {
        const NamedRegister* reg = findNamedRegister(o.registerName);
        if (reg == nullptr) {
            printError(err, "set: unknown register name \"" + o.registerName +
                                "\" (see movantrix-cli set --help)");
            return false;
        }
        if (!parseRegisterValue(*reg, o.valueText, o.registerValue, error)) {
            printError(err, "set: " + error);
            return false;
        }
    }
    if (isSettingsCommand(command)) {
        return validateSettingsCommand(command, o, err);
    }
    if (isRobotCommand(command)) {
        return validateRobotCommand(command, o, err);
    }
    if (command == "flash") {
        // A file that is there but cannot be read says why, rather than passing for missing
        // or invalid. Only a regular file is opened, and without blocking: a FIFO would wait
        // for a writer.
        RegularFile file = RegularFile::open(o.file);
        if (!file.isOpen()) {
            printError(err, o.file + ": " +
                                (file.status() == RegularFile::Status::Missing
                                     ? std::string("no such firmware file")
                                     : file.problem()));
            return false;
        }
        UpdateList updates;
        LoadFirmware(file, o.firmware, updates);
        if (!o.firmware.valid) {
            printError(err, o.file + ": Invalid Firmware File!");
            return false;
        }
    }
    return true;
}

// Runs the command line; run() checks the output it left.
int runCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               Environment& env) {
    CliOptions o;
    CLI::App app{"Finds and configures Movantrix actuators and sensor modules on their bus.",
                 kProgramName};
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", std::string(kProgramName) + " " + MVX_VERSION,
                         "Show the version and exit");
    app.add_option("-p,--port", o.portText,
                   "Adapter index from 'ports', a serial device path (any tty), 'sim' for the "
                   "built-in simulated bus or 'sim:FILE' for a bus described in a JSON file")
        ->capture_default_str();
    app.add_flag("--sim-virtual-time", o.virtualTime,
                 "Run the simulated bus on virtual time (instant) instead of real time");
    app.add_flag("--json", o.json,
                 "JSON output (scan, info, regs, watch, assign, profile check and apply)");
    app.add_option("--trace", o.trace,
                   "Write the bus log of the run (every packet both ways, decoded, and the link's "
                   "events) to FILE, '-' for stderr")
        ->type_name("FILE");

    auto addAddress = [&o](CLI::App* command) {
        command->add_option("--id", o.id, "Device ID (0-253)")
            ->required()
            ->transform(decimalIn(0, 253));
        command->add_option("--baud", o.baud, "Baud-rate code the device answers at (0-255)")
            ->required()
            ->transform(decimalIn(0, 255));
    };

    app.add_subcommand("ports", "List the adapters (index and description)");
    CLI::App* scan = app.add_subcommand("scan", "Search the bus and list the devices found");
    scan->add_flag("--full", o.full, "Search all 255 baud-rate codes, not only the common nine");
    CLI::Option* scanFast =
        scan->add_flag("--fast", o.fast,
                       "Shorter waits, timed from the adapter and the answers: the same devices "
                       "in a fraction of the time; each device is listed as it is found");
    scan->add_flag("--quick-look", o.quickLook,
                   "With --fast: leave a code where nothing answered at once without waiting "
                   "for late answers; faster, not sure (the codes left are named)")
        ->needs(scanFast);
    CLI::App* ping = app.add_subcommand("ping", "Ping one device");
    addAddress(ping);
    CLI::App* info = app.add_subcommand("info", "Show a device's identity and control table");
    addAddress(info);
    CLI::App* regs = app.add_subcommand(
        "regs",
        "Show a device's whole control table: address, name, size, access, raw value and "
        "value in its unit");
    addAddress(regs);
    CLI::App* read = app.add_subcommand("read", "Read raw control-table bytes");
    addAddress(read);
    read->add_option("ADDR", o.address, "First register (0-255)")
        ->required()
        ->transform(decimalIn(0, 255));
    read->add_option("LEN", o.length, "Number of bytes (1-150)")
        ->required()
        ->transform(decimalIn(1, static_cast<int>(kMaxParameters)));
    CLI::App* write = app.add_subcommand("write", "Write a raw control-table byte or word");
    addAddress(write);
    write->add_option("ADDR", o.address, "Register (0-255)")
        ->required()
        ->transform(decimalIn(0, 255));
    write->add_option("VALUE", o.valueText, "Value (0-255, or 0-65535 with --word)")->required();
    write->add_flag("--word", o.word, "Write a 16-bit little-endian word");
    CLI::App* set = app.add_subcommand("set", "Set a register by name");
    addAddress(set);
    set->add_option("NAME", o.registerName, "Register name (below)")->required();
    set->add_option("VALUE", o.valueText, "Value")->required();
    set->footer(registerNamesHelp());
    CLI::App* reset = app.add_subcommand("reset-defaults", "Write an actuator's default limits");
    addAddress(reset);
    CLI::App* flash = app.add_subcommand("flash",
                                         "Search the bus and update the firmware of the devices of "
                                         "the file's model");
    flash->add_option("FILE", o.file, "Firmware file (.mvx)")->required();
    flash->add_flag("--all-versions", o.allVersions,
                    "Also update devices whose version is not older than the file's");
    flash->add_flag("--full", o.full, "Search all 255 baud-rate codes");
    flash->add_flag("--fast", o.fast, "Search the fast way (as scan --fast)");
    addWatchCommand(app, o, addAddress);
    addSettingsCommands(app, o);
    addRobotCommands(app, o);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const auto rest = app.remaining();
        if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr &&
            app.get_subcommands().empty() && !rest.empty()) {
            printError(err, "unknown command \"" + rest.front() +
                                "\" (run movantrix-cli --help for the commands)");
            return kExitBadInput;
        }
        if (e.get_exit_code() == 0) {  // --help
            app.exit(e, out, err);
            return kExitOk;
        }
        printError(err, std::string(e.what()) + " (run movantrix-cli --help for the usage)");
        return kExitBadInput;
    }

    const std::string command = app.get_subcommands().front()->get_name();
    if (!validate(command, o, err)) {
        return kExitBadInput;
    }
    Trace trace;
    if (!o.trace.empty() && !trace.start(o.trace, err)) {
        return kExitBadInput;
    }
    CommandContext context{o, out, err, env, &trace};
    static const std::map<std::string, int (*)(CommandContext&)> kCommands = {
        {"ports", portsCommand}, {"scan", scanCommand},   {"ping", pingCommand},
        {"info", infoCommand},   {"read", readCommand},   {"write", writeCommand},
        {"set", setCommand},     {"flash", flashCommand}, {"reset-defaults", resetDefaultsCommand},
        {"watch", watchCommand}, {"regs", regsCommand},
    };
    int status = kExitOk;
    if (isSettingsCommand(command)) {
        status = runSettingsCommand(command, context);
    } else if (isRobotCommand(command)) {
        status = runRobotCommand(command, context);
    } else {
        status = kCommands.at(command)(context);
    }
    // A trace that could not be written whole fails a run that went well otherwise.
    if (!trace.finish(err) && status == kExitOk) {
        status = kExitFailed;
    }
    return status;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        Environment& env) {
    const int status = runCommand(args, out, err, env);
    // Output that did not reach its place (a full disk, a closed stdout) is a failure: the
    // results are incomplete, whatever the command did.
    out.flush();
    if (!out) {
        printError(err, kOutputFailedText);
        return status == kExitOk ? kExitFailed : status;
    }
    return status;
}

}  // namespace mvx::cli
