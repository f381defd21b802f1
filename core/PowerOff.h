#pragma once

namespace core {

// Powers the device off: the command in DIMCORE_POWEROFF_COMMAND (run through /bin/sh -c) when that
// variable is set, otherwise the system's "shutdown -P now" (from PATH, else /sbin/shutdown).
// Prints one line on standard error when the command cannot be run. Returns the command's status.
int PowerOff();

}  // namespace core
