#pragma once
// Runs a device model behind the simulated packet driver: every frame the
// system sends is handed to the model and its replies are delivered back at
// their virtual delay. Adapter indices of the model are zsim adapter indices.
#include "emulator/model.h"

#include <cstdint>

namespace emu {

// Adds one zsim adapter per emulated adapter (its interface name and host MAC),
// in order. Call on a freshly reset driver so the indices line up.
void addSimAdapters(const Network& network);

// Installs the zsim send hook; the network must outlive it (zsim::reset or
// detachFromSimDriver removes it). The network's wall clock becomes the
// virtual clock, reading `wallSecondsAtZero` at virtual time 0.
void attachToSimDriver(Network& network, int64_t wallSecondsAtZero = 0);
void detachFromSimDriver();

// Delivers the device's scripted flood for the next spanMs of virtual time.
// Returns the number of frames queued.
size_t deliverFlood(const Network& network, int adapter, uint32_t spanMs);

}  // namespace emu
