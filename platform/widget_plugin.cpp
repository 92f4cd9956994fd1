#include "platform/widget_plugin.h"

#include <QCoreApplication>
#include <QThread>

#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace platform {

namespace {

// The directory of the library holding this code, with a trailing slash:
// the plugins are installed beside it.
std::string OwnDirectory()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&WidgetPluginSymbol), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::string path = info.dli_fname;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::mutex pluginsLock;
// Opened plugins by name; null for one that failed to open (tried once).
std::map<std::string, void*> plugins;

} // namespace

bool OnWidgetGuiThread()
{
    // inherits() asks the meta-object, so telling a QApplication from a
    // QCoreApplication needs no widget code.
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && app->inherits("QApplication") && QThread::currentThread() == app->thread();
}

void* WidgetPluginSymbol(const char* plugin, const char* symbol)
{
    if (!OnWidgetGuiThread())
        return nullptr;
    std::lock_guard guard(pluginsLock);
    auto found = plugins.find(plugin);
    if (found == plugins.end()) {
        std::string path = OwnDirectory() + "lib" + plugin + ".so";
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            std::fprintf(stderr, "%s: %s\n", plugin, dlerror());
        found = plugins.emplace(plugin, handle).first;
    }
    if (found->second == nullptr)
        return nullptr;
    void* address = dlsym(found->second, symbol);
    if (address == nullptr)
        std::fprintf(stderr, "%s: no %s\n", plugin, symbol);
    return address;
}

} // namespace platform
