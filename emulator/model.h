#pragma once
// The device model: what the powerline device behind each adapter, and the
// remote stations it reaches, answer to each management frame. Pure: a frame
// goes in, the replies come out with the delay after which they arrive.
// plcsim serves it on TAP interfaces, the tests on the simulated driver.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace emu {

using Mac = std::array<uint8_t, 6>;
using Key = std::array<uint8_t, 8>;
using Block = std::array<uint8_t, 50>;

constexpr const char* defaultNetworkPassword = "TideWell";
constexpr size_t maxStationsListed = 15;  // station records in a LinkStatsReply

Key keyFromPassword(const std::string& password);

struct Reply {
    std::vector<uint8_t> bytes;
    uint32_t delayMs = 0;
};

enum class FloodKind {
    noise,      // management frames of a type nobody reads
    linkStats,  // unsolicited LinkStatsReply copies
    station,    // StationReply frames from ever new addresses
};

// Scripted misbehaviour of one local device. The defaults are an honest device.
struct Faults {
    bool silent = false;            // answers nothing, applies nothing
    bool neverConfirms = false;     // applies keys but never mirrors them into its blocks
    bool blankEeprom = false;       // reports its kind 1 block erased (all 0xFF)
    bool blankRam = false;          // reports its kind 2 block cleared (all 0x00)
    bool notSelfAddressed = false;  // answers its own address at broadcast instead
    size_t linkStatsLength = 204;   // a LinkStatsReply cut to this many bytes
    size_t paramReplyLength = 68;   // a ParamReply cut to this many bytes
    uint8_t paramEntryLength = 0x33;
    uint32_t floodPerSecond = 0;  // unsolicited frames, see Network::flood
    FloodKind floodKind = FloodKind::noise;
};

struct LocalDevice {
    Mac mac{};
    uint8_t deviceType = 1;  // 0..127, 1 to 3 are supported
    Key deviceKey{};         // from the label; also block bytes 6..13
    Key key0{};              // key select 0, normally the device key
    Key key1{};              // key select 1: the network key
    // A key select 0 key set with the provisional control mark lets the device
    // reach stations by their device key, until a non-provisional control ends it.
    bool provisional = false;
    uint8_t controlFlags = 0;
    uint8_t controlMark = 0;
    uint8_t controlValue = 0;
    Block eeprom{};  // kind 1
    Block ram{};     // kind 2
    uint32_t replyDelayMs = 1;
    Faults faults;
};

// A link value that follows the time of day: a daily curve through points,
// interpolated in a straight line between them and around midnight, plus noise
// that depends only on the seed and the time, so a replay gives the same values.
struct LinkSchedule {
    struct Point {
        uint32_t second = 0;  // of the day, 0..86399
        uint16_t value = 0;
    };
    std::vector<Point> points;  // at least one, seconds strictly ascending
    uint16_t noise = 0;         // the value moves by up to this much either way
    uint32_t seed = 0;
    uint32_t noiseEverySeconds = 60;  // a fresh noise draw this often
};

constexpr uint32_t secondsPerDay = 86400;

// The schedule's value at `wallSeconds` (seconds since 1970 on the emulator's
// local clock: the time of day is wallSeconds mod 86400), within 0..65535.
uint16_t scheduledLinkValue(const LinkSchedule& schedule, int64_t wallSeconds);

struct RemoteStation {
    Mac mac{};
    std::string devicePassword;
    Key deviceKey{};
    Key networkKey{};
    uint16_t linkValue = 0;                // as the local device measures the link
    std::optional<LinkSchedule> schedule;  // when set, linkValue follows it
    uint32_t replyDelayMs = 4;             // on top of the local device's delay
    bool silent = false;                   // unplugged: never answers
};

struct EmulatedAdapter {
    std::string interfaceName;  // TAP name for plcsim, adapter name for the simulated driver
    Mac hostMac{};              // the PC side: the TAP's address
    LocalDevice device;
    std::vector<RemoteStation> stations;
};

// A device in its factory state: both blocks filled from its address and keys,
// on the default network key unless another is given.
LocalDevice makeDevice(const Mac& mac, uint8_t deviceType, const std::string& devicePassword);
RemoteStation makeStation(const Mac& mac, const std::string& devicePassword, uint16_t linkValue,
                          const std::string& networkPassword = defaultNetworkPassword);
// The block a device reports when nothing has been set yet.
Block factoryBlock(const Mac& mac, const Key& deviceKey, const Key& networkKey);

class Network {
public:
    int addAdapter(EmulatedAdapter adapter);
    int adapterCount() const { return static_cast<int>(adapters_.size()); }
    EmulatedAdapter& adapter(int index) { return adapters_.at(static_cast<size_t>(index)); }
    const EmulatedAdapter& adapter(int index) const { return adapters_.at(static_cast<size_t>(index)); }
    void clear() { adapters_.clear(); }

    // What arrives back on `adapterIndex` after the PC sent `frame` on it.
    std::vector<Reply> handle(int adapterIndex, const uint8_t* frame, size_t length);

    // The device's scripted flood over the next `spanMs`: floodPerSecond frames a
    // second, spread evenly. `sequence` numbers frames across calls.
    std::vector<Reply> flood(int adapterIndex, uint32_t spanMs, uint32_t* sequence = nullptr) const;

    // Whether the local device currently reaches the station.
    bool reaches(int adapterIndex, const RemoteStation& station) const;

    // The emulator's wall clock for scheduled link values, in seconds on the
    // local clock (see scheduledLinkValue). Without one it is always midnight.
    using Clock = std::function<int64_t()>;
    void setClock(Clock clock) { clock_ = std::move(clock); }
    int64_t wallSeconds() const { return clock_ ? clock_() : 0; }
    // The station's link value now.
    uint16_t linkValue(const RemoteStation& station) const;

private:
    std::vector<EmulatedAdapter> adapters_;
    Clock clock_;
};

// One readable line for plcsim -v: message name, addresses and key fields.
std::string describeFrame(const uint8_t* frame, size_t length);

// Scenario files (JSON). On failure the error names the file, the field and why,
// and the network is left empty.
bool loadScenario(const std::string& path, Network& network, std::string* error);
bool parseScenario(const std::string& text, const std::string& fileName, Network& network, std::string* error);

}  // namespace emu
