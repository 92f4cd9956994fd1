#include "driver/startup_display.h"

#include "platform/widget_plugin.h"

namespace plcdrv {

StartupDisplayFactory StatusWindowFactory()
{
    return []() -> std::unique_ptr<StartupDisplay> {
        using Create = StartupDisplay* (*)();
        auto create =
            reinterpret_cast<Create>(platform::WidgetPluginSymbol("plcdrv_widgets", "plcdrv_create_status_window"));
        return std::unique_ptr<StartupDisplay>(create != nullptr ? create() : nullptr);
    };
}

} // namespace plcdrv
