#pragma once
// Device list of the stand-in MBX driver (format in mbxsim.h).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbxsim {

struct SimDevice {
    std::int32_t number = 0;
    bool physical = true;
    std::string protocol;
    std::string card;
    std::string name;
    std::string description;
    std::string host;
    std::uint16_t port = 0; // 0 when the device has no endpoint
};

// Devices in file order; a [Device n] section whose n is not a number is
// skipped, as is a malformed Endpoint (the device then cannot exchange).
std::vector<SimDevice> ParseSimConfig(std::string_view text);

// Reads the file named by MBXSIM_CONFIG; nothing when unset or unreadable.
std::optional<std::vector<SimDevice>> LoadSimConfig();

} // namespace mbxsim
