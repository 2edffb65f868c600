#pragma once
// TAP interfaces for plcsim. What the kernel sends out of a TAP is read from
// its descriptor; what plcsim writes arrives at the kernel as received.
#include "emulator/model.h"

#include <string>
#include <vector>

namespace emu {

// Creates the TAP `name`, gives it `mac` and brings it up. Returns the
// descriptor, or -1 with the reason. Closing the descriptor removes the interface.
int openTap(const std::string& name, const Mac& mac, std::string* why);

bool interfaceExists(const std::string& name);

// Interfaces of the current network namespace that are neither loopback nor
// TAP: a sign that this is not a namespace of its own.
std::vector<std::string> foreignInterfaces();

}  // namespace emu
