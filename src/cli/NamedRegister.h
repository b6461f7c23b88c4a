// The registers that `set` changes by name live in the device model, which the settings files
// share with the command line.
#pragma once

#include "device/NamedRegister.h"
