#pragma once
// The boxes a workflow can call for, with their fixed words, and what every
// workflow's result carries.
#include <string>

namespace session {

// The fixed words of the boxes, shared by the pages and the command line.
constexpr const char* invalidConfigCaption = "Invalid Configuration";
constexpr const char* invalidConfigText =
    "Your Powerline hardware is not compatible with the RLA-7070 Utility.\nPlease check your device and connection.";
constexpr const char* invalidNetworkPasswordCaption = "Invalid Password Entry";
constexpr const char* invalidNetworkPasswordText =
    "The Network Password Entered is Invalid.\nPlease Enter a Valid Network Password";
constexpr const char* invalidDevicePasswordCaption = "Invalid Password Entry";
constexpr const char* invalidDevicePasswordText =
    "The Device Password Entered is Invalid.\nPlease Enter a Valid Device Password";
constexpr const char* duplicatePasswordCaption = "Duplicate Password Entry";
constexpr const char* duplicatePasswordText =
    "The Device Password Entered has already been added.\nPlease Enter Another Device Password";
constexpr const char* noResponseCaption = "No Response From Device";
constexpr const char* noResponseText = "A Device With The Entered Password Was Not Detected. \nPlease Verify The "
                                       "Password and Check The Connection To Your Device.";
constexpr const char* listFullCaption = "Device Password List Full";
constexpr const char* listFullText =
    "The Device Password List holds 32 devices.\nPlease Remove a Device Password before adding another one.";
constexpr const char* saveFailedCaption = "Settings Not Saved";
// The system's reason follows on a line of its own.
constexpr const char* saveFailedText =
    "The settings could not be saved to \"wizard.data\".\nThe key already sent to the device stays as it is.";
constexpr const char* linkLostCaption = "Connection Lost";
constexpr const char* linkLostText =
    "The connection to the adapters was lost.\nPress Refresh on the Device page to open them again.";
constexpr const char* statusOk = "OK";
constexpr const char* statusFail = "FAIL";

// The boxes a workflow can call for; boxCaption/boxText give their fixed words.
enum class Box {
    none,
    invalidConfiguration,    // no adapter opened, or no supported device answered
    invalidNetworkPassword,  // a network password field that fails the rules
    invalidDevicePassword,
    duplicatePassword,
    noResponse,  // no device answered the device password
    listFull,    // all 32 device passwords in use
    saveFailed,  // "wizard.data" could not be written: see saveError
    linkLost,    // the adapters' helper ended: nothing more was sent, nothing saved
};
const char* boxCaption(Box box);
const char* boxText(Box box);
// The box's whole text: for saveFailed the system's reason is appended.
std::string boxMessage(Box box, const std::string& saveError);

// Every workflow's result carries these.
struct Outcome {
    Box box = Box::none;
    bool saveTried = false;  // the workflow wrote "wizard.data"
    bool saved = false;      // ... and it was written
    std::string saveError;   // the system's reason when it was not
};

}  // namespace session
