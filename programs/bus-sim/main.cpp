// movantrix-bus-sim: serves a simulated bus on a pseudo-terminal.
//
//   movantrix-bus-sim [--bus FILE.json] [--link PATH] [--traffic FILE] [--latency-ms MS]
//                     [--broadcast-spacing-us US]
//
// Prints the slave's path on the first line of standard output; any program can open it as a
// serial port. Runs until interrupted (Ctrl+C, SIGTERM, SIGHUP).
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "cli/DecimalOption.h"
#include "drivers/Clock.h"
#include "drivers/RegularFile.h"
#include "sim/BusDescription.h"
#include "sim/PtyBusServer.h"
#include "sim/SimulatedBus.h"

int main(int argc, char** argv) {
    CLI::App app{"Serves a simulated Movantrix bus on a pseudo-terminal.", "movantrix-bus-sim"};
    std::string busFile;
    std::string linkPath;
    std::string trafficFile;
    app.add_option("--bus", busFile, "bus description (JSON); default: the built-in bus")
        ->check(CLI::ExistingFile);
    app.add_option("--link", linkPath, "also make a symbolic link to the slave here");
    app.add_option("--traffic", trafficFile, "write the traffic record to this file at the end");
    int latencyMs = -1;
    app.add_option("--latency-ms", latencyMs,
                   "the adapter's receive latency: replies reach the host this long after their "
                   "last bit (0-255; default: the bus description's, else 1)")
        ->transform(mvx::cli::decimalIn(0, 255));
    int spacingUs = -1;
    app.add_option("--broadcast-spacing-us", spacingUs,
                   "devices answer a broadcast ping this many microseconds per unit of their ID "
                   "late (0-1000; 300: ID 253 answers 75.9 ms late; default: the bus "
                   "description's, else 0)")
        ->transform(
            mvx::cli::decimalIn(0, static_cast<int>(mvx::SimulatedBus::kMaxBroadcastSpacingUs)));
    app.set_version_flag("--version", std::string("movantrix-bus-sim ") + MVX_VERSION,
                         "Show the version and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end well; a bad option is bad input (2), as with the CLI.
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }

    // A target the record could never replace (a directory, a FIFO, a device) is refused
    // before serving, not found out at the end of a session.
    if (!trafficFile.empty()) {
        std::string error;
        if (!mvx::checkWriteTarget(trafficFile, error)) {
            std::cerr << "movantrix-bus-sim: --traffic: " << error << "; nothing served\n";
            return 2;
        }
    }

    mvx::BusDescription description = mvx::SimulatedBus::defaultBus();
    if (!busFile.empty()) {
        std::string error;
        if (!mvx::SimulatedBus::loadDescription(busFile, description, error)) {
            std::cerr << "movantrix-bus-sim: " << error << '\n';
            return 1;
        }
    }
    if (latencyMs >= 0) {
        description.receiveLatencyUs = static_cast<std::int64_t>(latencyMs) * 1000;
    }
    if (spacingUs >= 0) {
        description.broadcastSpacingUs = spacingUs;
    }

    // Signals are taken by sigwait below, in this thread only.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    mvx::SystemClock clock;
    mvx::SimulatedBus bus(description, clock);
    mvx::SimulatedBusWire wire(bus);
    mvx::PtyBusServer server(wire);
    std::string error;
    if (!server.start(linkPath, &error)) {
        std::cerr << "movantrix-bus-sim: " << error << '\n';
        return 1;
    }
    const std::int64_t originUs = clock.nowUs();
    // The path is what the caller waits for: without it nobody can use the bus.
    if (!(std::cout << server.slavePath() << std::endl)) {
        std::cerr << "movantrix-bus-sim: cannot write to standard output\n";
        return 1;
    }
    std::cerr << "Serving \"" << description.adapterName << "\" with " << description.devices.size()
              << " device(s) on " << server.slavePath();
    if (!linkPath.empty()) {
        std::cerr << " (" << linkPath << ")";
    }
    std::cerr << "; Ctrl+C ends." << std::endl;

    std::atomic<bool> served{true};
    std::thread serving([&] {
        served = server.run();
        kill(getpid(), SIGUSR1);  // wakes the sigwait below
    });
    int signal = 0;
    sigwait(&signals, &signal);
    server.requestStop();
    serving.join();

    int status = 0;
    if (!served) {
        std::cerr << "movantrix-bus-sim: the pseudo-terminal failed\n";
        status = 1;
    }
    if (!trafficFile.empty()) {
        // Written whole or not at all, and only as a regular file.
        std::ostringstream record;
        mvx::writeTrafficRecord(record, bus.traffic(), originUs);
        std::string writeError;
        if (!mvx::writeFileAtomically(trafficFile, record.str(), writeError)) {
            std::cerr << "movantrix-bus-sim: cannot write the traffic record: " << writeError
                      << '\n';
            status = 1;
        }
    }
    return status;
}
