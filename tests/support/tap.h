#pragma once
// A TAP interface owned by a test. Writing to it is a frame arriving at the
// kernel on that interface; reading from it is a frame the kernel sent out.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class TapDevice {
public:
    TapDevice() = default;
    ~TapDevice();
    TapDevice(const TapDevice&) = delete;
    TapDevice& operator=(const TapDevice&) = delete;
    TapDevice(TapDevice&& other) noexcept;
    TapDevice& operator=(TapDevice&& other) noexcept;

    // Creates the interface with the given address, IPv6 off (so the kernel
    // sends nothing of its own), and brings it up unless told otherwise.
    bool create(const std::string& name, const uint8_t mac[6], bool up, std::string* why);
    // The interface disappears with its descriptor.
    void destroy();

    bool isOpen() const { return fd_ >= 0; }
    const std::string& name() const { return name_; }
    int fd() const { return fd_; }

    bool write(const uint8_t* frame, size_t length);
    bool write(const std::vector<uint8_t>& frame) { return write(frame.data(), frame.size()); }
    // The next frame the kernel sent out, or nothing within timeoutMs.
    std::optional<std::vector<uint8_t>> read(int timeoutMs);
    // The next outgoing frame of this Ethertype; others are skipped.
    std::optional<std::vector<uint8_t>> readOfType(uint16_t ethertype, int timeoutMs);

private:
    int fd_ = -1;
    std::string name_;
};

}  // namespace testsupport
