// The MBX entry points of the stand-in driver (see mbxsim.h).
#include "mbxsim.h"

#include "modbus_tcp_link.h"
#include "mpbridge/mbxapi.h"
#include "sim_config.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mbxsim {
namespace {

struct Path {
    bool replyPending = false;
    std::vector<std::uint8_t> reply;
};

struct Card {
    SimDevice device;
    std::unique_ptr<ModbusTcpLink> link;
    std::map<MbxPathHandle, Path> paths;
};

struct Enumeration {
    std::vector<SimDevice> devices;
    std::size_t position = 0;
};

struct State {
    std::mutex lock;
    std::map<MbxHandle, Card> cards;
    std::map<MbxEnumHandle, Enumeration> enumerations;
    std::uint32_t nextHandle = 0;
    std::uint16_t nextPath = 0;
    std::map<std::string, int, std::less<>> calls;
};

// Never destroyed: the bridge may still close its cards from its own
// destructor after this library's static objects would have gone.
State& TheState()
{
    static State* instance = new State;
    return *instance;
}

std::uint32_t NewHandle(State& s)
{
    do {
        ++s.nextHandle;
    } while (s.nextHandle == 0 || s.cards.count(s.nextHandle) != 0 || s.enumerations.count(s.nextHandle) != 0);
    return s.nextHandle;
}

// Path handles keep their low 16 bits nonzero: the bridge takes a path whose
// low half is 0 as not open.
MbxPathHandle NewPath(State& s, const Card& card)
{
    do {
        s.nextPath = static_cast<std::uint16_t>(s.nextPath + 1);
    } while (s.nextPath == 0 || card.paths.count(s.nextPath) != 0);
    return s.nextPath;
}

// Copies `text` into a caller buffer of *length bytes, zero-terminated and
// cut to fit, and stores the copied length.
bool CopyText(const std::string& text, char* out, std::int32_t* length)
{
    if (out == nullptr || length == nullptr || *length <= 0)
        return false;
    const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(*length) - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    *length = static_cast<std::int32_t>(n);
    return true;
}

struct Call {
    std::unique_lock<std::mutex> guard;
    State& s;
    explicit Call(const char* name) : guard(TheState().lock), s(TheState()) { ++s.calls[name]; }
};

} // namespace
} // namespace mbxsim

using namespace mbxsim;

#pragma GCC visibility push(default)

extern "C" int mbxsim_call_count(const char* name)
{
    if (name == nullptr)
        return 0;
    std::lock_guard guard(TheState().lock);
    const auto it = TheState().calls.find(std::string_view(name));
    return it == TheState().calls.end() ? 0 : it->second;
}

extern "C" int32_t MbxOpen(int32_t device, MbxHandle* handle)
{
    try {
        Call call("MbxOpen");
        if (handle == nullptr)
            return BadArgument;
        const auto devices = LoadSimConfig();
        if (!devices)
            return NoConfiguration;
        const auto it =
            std::find_if(devices->begin(), devices->end(), [device](const SimDevice& d) { return d.number == device; });
        if (it == devices->end())
            return NoSuchDevice;
        const MbxHandle h = NewHandle(call.s);
        Card& card = call.s.cards[h];
        card.device = *it;
        card.link = std::make_unique<ModbusTcpLink>(it->host, it->port);
        *handle = h;
        return 0;
    } catch (...) {
        return BadArgument;
    }
}

extern "C" int32_t MbxClose(MbxHandle handle)
{
    Call call("MbxClose");
    return call.s.cards.erase(handle) != 0 ? 0 : BadHandle;
}

extern "C" int32_t MbxOpenMp(MbxHandle handle, MbxPathHandle* path)
{
    try {
        Call call("MbxOpenMp");
        if (path == nullptr)
            return BadArgument;
        const auto it = call.s.cards.find(handle);
        if (it == call.s.cards.end())
            return BadHandle;
        const MbxPathHandle p = NewPath(call.s, it->second);
        it->second.paths[p] = Path{};
        *path = p;
        return 0;
    } catch (...) {
        return BadArgument;
    }
}

extern "C" int32_t MbxCloseMp(MbxHandle handle, MbxPathHandle path)
{
    Call call("MbxCloseMp");
    const auto it = call.s.cards.find(handle);
    if (it == call.s.cards.end())
        return BadHandle;
    return it->second.paths.erase(path) != 0 ? 0 : BadHandle;
}

extern "C" int32_t MbxWriteMpCmdWait(MbxHandle handle, MbxPathHandle path, const uint16_t* routing,
    int32_t routingLength, const unsigned char* frame, int32_t length, int32_t, int32_t, int32_t timeout)
{
    try {
        Call call("MbxWriteMpCmdWait");
        const auto card = call.s.cards.find(handle);
        if (card == call.s.cards.end())
            return BadHandle;
        const auto p = card->second.paths.find(path);
        if (p == card->second.paths.end())
            return BadHandle;
        p->second.replyPending = false;
        p->second.reply.clear();
        if (routing == nullptr || routingLength < 2 || frame == nullptr || length < 1 || length > 253)
            return BadArgument;
        const auto unit = static_cast<std::uint8_t>(routing[0] & 0xFF);
        std::vector<std::uint8_t> reply;
        const std::int32_t r =
            card->second.link->exchange(unit, frame, static_cast<std::size_t>(length), timeout, reply);
        if (r != 0)
            return r;
        p->second.reply = std::move(reply);
        p->second.replyPending = true;
        return 0;
    } catch (...) {
        return LinkBroken;
    }
}

extern "C" int32_t MbxReadMpReply(MbxHandle handle, MbxPathHandle path, unsigned char* frame, int32_t* length)
{
    Call call("MbxReadMpReply");
    const auto card = call.s.cards.find(handle);
    if (card == call.s.cards.end())
        return BadHandle;
    const auto p = card->second.paths.find(path);
    if (p == card->second.paths.end())
        return BadHandle;
    if (frame == nullptr || length == nullptr)
        return BadArgument;
    if (!p->second.replyPending)
        return NoReplyPending;
    const std::vector<std::uint8_t>& reply = p->second.reply;
    if (*length < 0 || static_cast<std::size_t>(*length) < reply.size())
        return BufferTooSmall;
    std::memcpy(frame, reply.data(), reply.size());
    *length = static_cast<std::int32_t>(reply.size());
    p->second.replyPending = false;
    return 0;
}

extern "C" int32_t MbxGetErrorMessageA(int32_t error, char* text, int32_t size)
{
    Call call("MbxGetErrorMessageA");
    static const std::map<std::int32_t, std::string> messages = {
        {0, "No error"},
        {BadHandle, "Invalid handle"},
        {BadArgument, "Invalid argument"},
        {NoConfiguration, "MBXSIM_CONFIG is not set or cannot be read"},
        {NoSuchDevice, "No such device"},
        {EndOfList, "No more devices"},
        {ConnectFailed, "Cannot connect to the device endpoint"},
        {Timeout, "No reply within the time-out"},
        {LinkBroken, "Connection to the device endpoint failed"},
        {NoReplyPending, "No reply pending"},
        {BufferTooSmall, "Reply buffer too small"},
    };
    const auto it = messages.find(error);
    std::int32_t room = size;
    return CopyText(it != messages.end() ? it->second : "Unknown error", text, &room) ? 0 : BadArgument;
}

extern "C" int32_t MbxOpenDeviceDescriptionEnum(MbxEnumHandle* enumeration)
{
    try {
        Call call("MbxOpenDeviceDescriptionEnum");
        if (enumeration == nullptr)
            return BadArgument;
        auto devices = LoadSimConfig();
        if (!devices)
            return NoConfiguration;
        if (devices->empty())
            return EndOfList;
        const MbxEnumHandle h = NewHandle(call.s);
        call.s.enumerations[h] = Enumeration{std::move(*devices), 0};
        *enumeration = h;
        return 0;
    } catch (...) {
        return BadArgument;
    }
}

extern "C" int32_t MbxCloseDeviceDescriptionEnum(MbxEnumHandle enumeration)
{
    Call call("MbxCloseDeviceDescriptionEnum");
    return call.s.enumerations.erase(enumeration) != 0 ? 0 : BadHandle;
}

extern "C" int32_t MbxDeviceDescriptionEnumNext(MbxEnumHandle enumeration)
{
    Call call("MbxDeviceDescriptionEnumNext");
    const auto it = call.s.enumerations.find(enumeration);
    if (it == call.s.enumerations.end())
        return BadHandle;
    if (it->second.position + 1 >= it->second.devices.size())
        return EndOfList;
    ++it->second.position;
    return 0;
}

extern "C" int32_t MbxReadDeviceDescriptionA(MbxEnumHandle enumeration, int32_t* physical, int32_t* device,
    char* protocol, int32_t* protocolLength, char* card, int32_t* cardLength, char* name, int32_t* nameLength,
    char* description, int32_t* descriptionLength)
{
    try {
        Call call("MbxReadDeviceDescriptionA");
        if (physical == nullptr || device == nullptr)
            return BadArgument;
        SimDevice found;
        if (enumeration == 0) {
            const auto devices = LoadSimConfig();
            if (!devices)
                return NoConfiguration;
            const auto it = std::find_if(
                devices->begin(), devices->end(), [device](const SimDevice& d) { return d.number == *device; });
            if (it == devices->end())
                return NoSuchDevice;
            found = *it;
        } else {
            const auto it = call.s.enumerations.find(enumeration);
            if (it == call.s.enumerations.end())
                return BadHandle;
            found = it->second.devices.at(it->second.position);
        }
        if (!CopyText(found.protocol, protocol, protocolLength) || !CopyText(found.card, card, cardLength) ||
            !CopyText(found.name, name, nameLength) || !CopyText(found.description, description, descriptionLength))
            return BadArgument;
        *physical = found.physical ? 1 : 0;
        *device = found.number;
        return 0;
    } catch (...) {
        return BadArgument;
    }
}

#pragma GCC visibility pop
