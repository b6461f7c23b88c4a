// Movantrix Manager as a library: open a bus, search it, read and write devices by register
// name, back up and restore settings, run the robot flows and watch telemetry.
//
//     #include <movantrix/movantrix.h>
//     movantrix::Bus bus = movantrix::open("sim", movantrix::OpenOptions{.virtualTime = true});
//     for (const movantrix::Device& d : bus.scan())
//         std::cout << d.code() << ' ' << d.id() << ' ' << d.modelName() << '\n';
//     bus.device(1, 3).write("goal-position", 512);
#pragma once

#include "movantrix/bus.h"
#include "movantrix/device.h"
#include "movantrix/errors.h"
#include "movantrix/types.h"
