// The bridge exports: the card list over the MBX driver binding and one
// request/reply exchange per MBXSendPacket call.
#include "mpbridge/mpbridge.h"

#include "mpbridge/mbx_binding.h"
#include "platform/widget_plugin.h"

#include <cerrno>
#include <cstdint>
#include <list>
#include <mutex>
#include <new>

namespace mpbridge {
namespace {

struct CardEntry {
    int device = 0;
    MbxHandle handle = 0;
    MbxPathHandle path = 0; // 0 when no data master path is open
};

bool PathOpen(const CardEntry& card) { return (card.path & 0xFFFFu) != 0; }

struct Bridge {
    std::mutex lock; // guards the card list and serialises every exchange
    MbxBinding binding;
    bool loaded = false;
    std::list<CardEntry> cards;
};

// Never destroyed: the loader may run other libraries' destructors (and with
// them late bridge calls) after ours, so the state outlives static teardown.
// It lives in the library's own storage rather than on the heap, so that a
// process that loads and unloads the library (PLCDRV's users may) leaves
// nothing behind with each unload.
Bridge& TheBridge()
{
    alignas(Bridge) static unsigned char storage[sizeof(Bridge)];
    static Bridge* instance = new (storage) Bridge;
    return *instance;
}

void CloseCard(const MbxApi& api, const CardEntry& card)
{
    if (PathOpen(card))
        api.closeMp(card.handle, card.path);
    api.close(card.handle);
}

__attribute__((constructor)) void LoadAtLibraryLoad()
{
    Bridge& b = TheBridge();
    std::lock_guard guard(b.lock);
    if (b.loaded)
        return;
    b.binding = LoadMbxDriver();
    b.loaded = true;
}

__attribute__((destructor)) void UnloadAtLibraryUnload()
{
    Bridge& b = TheBridge();
    std::lock_guard guard(b.lock);
    if (b.binding.loadResult == 0 && b.binding.library != nullptr) {
        for (const CardEntry& card : b.cards)
            if (card.handle != 0)
                CloseCard(b.binding.api, card);
    }
    b.cards.clear();
    UnloadMbxDriver(b.binding);
    // Any call that still arrives finds the driver unavailable.
    if (b.binding.loadResult == 0)
        b.binding.loadResult = ENOENT;
}

bool Available(const Bridge& b) { return b.binding.loadResult == 0 && b.binding.library != nullptr; }

} // namespace
} // namespace mpbridge

using mpbridge::Bridge;
using mpbridge::CardEntry;
using mpbridge::MbxApi;

extern "C" MPBRIDGE_API int MBXDriverAvailable(void) { return mpbridge::TheBridge().binding.loadResult; }

extern "C" MPBRIDGE_API int MBXInitCard(int device)
{
    try {
        Bridge& b = mpbridge::TheBridge();
        // Taken although the driver starts its cards before any worker runs:
        // the card list must never change under a running exchange.
        std::lock_guard guard(b.lock);
        if (!mpbridge::Available(b))
            return 0;
        for (const CardEntry& card : b.cards)
            if (card.device == device)
                return 1;
        CardEntry entry;
        entry.device = device;
        const MbxApi& api = b.binding.api;
        if (api.open(device, &entry.handle) != 0)
            return 0;
        if (api.openMp(entry.handle, &entry.path) != 0) {
            api.close(entry.handle);
            return 0;
        }
        try {
            b.cards.push_back(entry);
        } catch (...) {
            mpbridge::CloseCard(api, entry);
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" MPBRIDGE_API int MBXSendPacket(
    int device, const unsigned short* routing, unsigned char* frame, int length, int timeout)
{
    try {
        Bridge& b = mpbridge::TheBridge();
        std::lock_guard guard(b.lock);
        if (!mpbridge::Available(b))
            return -1;
        if (routing == nullptr || frame == nullptr || length < 0 || length > MBX_REPLY_BUFFER_SIZE)
            return -1;
        const CardEntry* found = nullptr;
        for (const CardEntry& card : b.cards) {
            if (card.device == device) {
                found = &card;
                break;
            }
        }
        if (found == nullptr)
            return -1;
        std::uint16_t route[5];
        for (int i = 0; i < 5; ++i)
            route[i] = routing[i];
        const MbxApi& api = b.binding.api;
        int result =
            api.writeMpCmdWait(found->handle, found->path, route, MBX_ROUTING_BYTES, frame, length, 0, 0, timeout);
        if (result == 0) {
            std::int32_t room = MBX_REPLY_BUFFER_SIZE;
            result = api.readMpReply(found->handle, found->path, frame, &room);
        }
        return result;
    } catch (...) {
        return -1;
    }
}

extern "C" MPBRIDGE_API int MBXStopCard(int device)
{
    try {
        Bridge& b = mpbridge::TheBridge();
        std::lock_guard guard(b.lock);
        if (!mpbridge::Available(b))
            return 0;
        for (auto it = b.cards.begin(); it != b.cards.end(); ++it) {
            if (it->device == device && it->handle != 0) {
                mpbridge::CloseCard(b.binding.api, *it);
                b.cards.erase(it);
                return 1;
            }
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

extern "C" MPBRIDGE_API void MBXSelectDevice(int* device, char* name)
{
    try {
        Bridge& b = mpbridge::TheBridge();
        // The dialog runs for as long as the user takes, so it works on a
        // copy of the entry points instead of holding the exchange lock.
        MbxApi api;
        bool usable = false;
        {
            std::lock_guard guard(b.lock);
            usable = mpbridge::Available(b);
            if (usable)
                api = b.binding.api;
        }
        using Select = void (*)(const MbxApi*, int*, char*);
        if (auto select =
                reinterpret_cast<Select>(platform::WidgetPluginSymbol("mpbridge_widgets", "mpbridge_select_device")))
            select(usable ? &api : nullptr, device, name);
    } catch (...) {
        // Nothing chosen: both outputs stay as the caller left them.
    }
}
