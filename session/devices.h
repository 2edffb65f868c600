#pragma once
// The remote devices of the selected adapter's network, by their device
// passwords (the Advanced page): the list, Set All, Add and Remove.
#include "keys/password.h"
#include "session/boxes.h"

#include <string>
#include <string_view>
#include <vector>

namespace session {

using ::passwordMaxLength;  // the longest password the rules take

// One remote device of the Advanced page's list and what Set All did with it.
struct DeviceStatus {
    int index = 0;  // entry of the profile's device-password table
    std::string password;
    std::string mac;      // the device that answered it
    bool keySet = false;  // the last Set All reached it
    bool ok = false;      // this call reached it
};
std::vector<DeviceStatus> devicePasswords();

// Set All: the network password to the local device and to every listed device, one by one.
struct SetAllResult : Outcome {
    std::vector<DeviceStatus> devices;  // in list order, ok per device
};
SetAllResult setAll(std::string_view networkPassword);

// Add: finds the device behind its device password (its letters in capitals,
// as labels print them) with a temporary key, lists it, then runs Set All
// with `networkPassword`. Both passwords are checked
// before anything is sent; an exchange that ends early puts the local device
// back on the stored network key.
struct AddResult : SetAllResult {
    bool added = false;
    int index = -1;   // its entry
    std::string mac;  // the device that answered
};
AddResult add(std::string_view devicePassword, std::string_view networkPassword);

// Forgets the listed devices of these passwords; unknown ones are skipped.
struct RemoveResult : Outcome {
    int removed = 0;
};
RemoveResult remove(const std::vector<std::string>& passwords);
// Forgets the listed devices of these entries of the table; free or unknown ones are skipped.
RemoveResult removeEntries(const std::vector<int>& entries);

}  // namespace session
