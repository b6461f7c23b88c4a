// Finds the devices on a bus, prints them and moves one actuator: the first lines of a
// program that uses the installed library.
//
//     movantrix-example [PORT]     (default: the simulated bus on virtual time)
#include <movantrix/movantrix.h>

#include <iostream>

int main(int argc, char** argv) {
    const std::string port = argc > 1 ? argv[1] : "sim";
    try {
        movantrix::Bus bus = movantrix::open(port, movantrix::OpenOptions{.virtualTime = true});
        for (const movantrix::Device& d : bus.scan())  // the fast search, sure
            std::cout << int(d.code()) << ' ' << int(d.id()) << ' ' << d.modelName() << '\n';
        bus.device(1, 3).write("goal-position", 512);  // movantrix::BusError on failure
        std::cout << "goal-position " << std::get<int>(bus.device(1, 3).read("goal-position"))
                  << '\n';
    } catch (const movantrix::BusError& e) {
        std::cerr << "movantrix-example: " << e.what() << " (result " << e.resultCode() << ")\n";
        return 1;
    } catch (const std::invalid_argument& e) {
        std::cerr << "movantrix-example: " << e.what() << '\n';
        return 2;
    }
    return 0;
}
