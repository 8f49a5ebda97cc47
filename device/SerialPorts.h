#pragma once
// The names for the COM port box: the system's serial ports (device paths on POSIX, COMn
// on Windows) sorted as the box sorts them, plus the simulator's serial line when one runs.
#include <optional>
#include <string>
#include <vector>

namespace edog {

// Every serial port the system knows, unsorted. Empty when there is none.
std::vector<std::string> SystemSerialPorts();

// Alphabetical, ignoring case, as a sorted combo box orders its entries: COM1, COM10, COM2.
void SortPortNames(std::vector<std::string>& names);

// The system's ports plus `extra` (the simulator's line), without duplicates, sorted.
std::vector<std::string> ListSerialPorts(const std::vector<std::string>& extra = {});

// The simulator announces its serial line (a pseudo-terminal's path) in this file of its
// state folder while it runs.
constexpr const char* kSerialLineFile = "serial-line";
// The announced line, when the file names a terminal that exists; nothing otherwise.
std::optional<std::string> AnnouncedSerialLine(const std::string& stateDir);

// The simulator's state folder when no --state names one, and so where a running
// simulator is looked for: $EDOG_SIM_STATE, else ./edog-sim-state.
std::string DefaultSimulatorStateDir();

// The COM port box's entries: the system's ports and the line announced in `simStateDir`.
std::vector<std::string> ComPortBoxEntries(const std::string& simStateDir);

// The port number of a box entry: the integer after its first three characters (COM12
// gives 12), 0 when there is none.
int PortNumberFromName(const std::string& name);

// Why the user may not open `port` and the fix: membership of `group`, the group that
// owns the device (dialout for most serial adapters); without a group, access to it.
std::string SerialPermissionText(const std::string& port, const std::string& group);
#ifndef _WIN32
// The group whose members may open the node `path` (a port or a USB device): its group
// when that group may read and write it and is not root's (joining any other would not
// help); empty when there is none or it cannot be told.
std::string GroupThatMayOpen(const std::string& path);
#endif

}  // namespace edog
