#include "sim_config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mbxsim {
namespace {

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::optional<long> ParseNumber(std::string_view text)
{
    const std::string copy(Trim(text));
    if (copy.empty())
        return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(copy.c_str(), &end, 10);
    if (end == copy.c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

void SetEndpoint(SimDevice& device, std::string_view text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return;
    const auto port = ParseNumber(text.substr(colon + 1));
    if (!port || *port <= 0 || *port > 65535)
        return;
    device.host = std::string(Trim(text.substr(0, colon)));
    device.port = static_cast<std::uint16_t>(*port);
}

} // namespace

std::vector<SimDevice> ParseSimConfig(std::string_view text)
{
    std::vector<SimDevice> devices;
    bool inDevice = false;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            inDevice = false;
            const auto close = line.find(']');
            if (close == std::string_view::npos)
                continue;
            const std::string_view name = Trim(line.substr(1, close - 1));
            constexpr std::string_view prefix = "Device";
            if (name.size() <= prefix.size() || !EqualsNoCase(name.substr(0, prefix.size()), prefix))
                continue;
            const auto number = ParseNumber(name.substr(prefix.size()));
            if (!number || *number < INT32_MIN || *number > INT32_MAX)
                continue;
            SimDevice device;
            device.number = static_cast<std::int32_t>(*number);
            devices.push_back(device);
            inDevice = true;
            continue;
        }
        if (!inDevice)
            continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        SimDevice& device = devices.back();
        if (EqualsNoCase(key, "Physical"))
            device.physical = ParseNumber(value).value_or(1) != 0;
        else if (EqualsNoCase(key, "Protocol"))
            device.protocol = value;
        else if (EqualsNoCase(key, "Card"))
            device.card = value;
        else if (EqualsNoCase(key, "Name"))
            device.name = value;
        else if (EqualsNoCase(key, "Description"))
            device.description = value;
        else if (EqualsNoCase(key, "Endpoint"))
            SetEndpoint(device, value);
    }
    return devices;
}

std::optional<std::vector<SimDevice>> LoadSimConfig()
{
    const char* path = std::getenv("MBXSIM_CONFIG");
    if (path == nullptr || *path == '\0')
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return ParseSimConfig(text.str());
}

} // namespace mbxsim
