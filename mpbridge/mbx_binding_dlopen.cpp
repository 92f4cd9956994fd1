// Binding by dlopen/dlsym lives here, apart from the bridge logic, because it
// is the one place that depends on the platform's dynamic loader: the vendor
// driver is optional, so it cannot be linked at build time.
#include "mpbridge/mbx_binding.h"

#include <dlfcn.h>

#include <cerrno>

namespace mpbridge {
namespace {

constexpr const char* kLibraryName = "libmbxapi.so";

template <typename Fn> bool LookUp(void* library, const char* name, Fn& entry)
{
    dlerror();
    void* symbol = dlsym(library, name);
    if (dlerror() != nullptr || symbol == nullptr)
        return false;
    entry = reinterpret_cast<Fn>(symbol);
    return true;
}

} // namespace

MbxBinding LoadMbxDriver()
{
    MbxBinding binding;
    errno = 0;
    void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        // dlopen reports through dlerror(); errno usually still holds the
        // failing open's reason. Either way the result must be nonzero.
        binding.loadResult = errno != 0 ? errno : ENOENT;
        return binding;
    }
    MbxApi& api = binding.api;
    const bool found = LookUp(library, "MbxOpen", api.open) && LookUp(library, "MbxClose", api.close) &&
        LookUp(library, "MbxOpenMp", api.openMp) && LookUp(library, "MbxCloseMp", api.closeMp) &&
        LookUp(library, "MbxWriteMpCmdWait", api.writeMpCmdWait) &&
        LookUp(library, "MbxReadMpReply", api.readMpReply) &&
        LookUp(library, "MbxGetErrorMessageA", api.getErrorMessage) &&
        LookUp(library, "MbxOpenDeviceDescriptionEnum", api.openDeviceDescriptionEnum) &&
        LookUp(library, "MbxCloseDeviceDescriptionEnum", api.closeDeviceDescriptionEnum) &&
        LookUp(library, "MbxDeviceDescriptionEnumNext", api.deviceDescriptionEnumNext) &&
        LookUp(library, "MbxReadDeviceDescriptionA", api.readDeviceDescription);
    if (!found) {
        dlclose(library);
        binding.api = MbxApi{};
        binding.loadResult = ENOSYS;
        return binding;
    }
    binding.library = library;
    binding.loadResult = 0;
    return binding;
}

void UnloadMbxDriver(MbxBinding& binding)
{
    if (binding.library != nullptr)
        dlclose(binding.library);
    binding.library = nullptr;
    binding.api = MbxApi{};
}

} // namespace mpbridge
