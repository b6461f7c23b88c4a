// The registers that `set` changes by name live in the device model, which the settings files
// share with the command line; the command line keeps its names for them.
#pragma once

#include "device/NamedRegister.h"

namespace mvx::cli {

using mvx::applyNamedRegister;
using mvx::findNamedRegister;
using mvx::flagNames;
using mvx::flagText;
using mvx::kFlagNames;
using mvx::NamedRegister;
using mvx::namedRegisters;
using mvx::parseRegisterValue;
using mvx::Setting;
using mvx::ValueKind;
using mvx::voltsText;

}  // namespace mvx::cli
