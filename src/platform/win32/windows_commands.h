// The command lines the updater hands to the Windows command interpreter.
// Pure text, built on every platform so that they are tested byte for byte.
// Paths are inserted as they are: the programs receiving them expect them so.
#pragma once

#include "platform/platform.h"

namespace platform {

extern const CommandBuilders windowsCommands;

}  // namespace platform
