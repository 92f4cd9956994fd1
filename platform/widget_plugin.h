#pragma once
// The libraries' windows (message boxes, the driver's status window, the MBX
// device dialog) live in small plugins beside them, so that the libraries
// themselves need Qt Core only: a command-line host such as chronel-cli
// loads no widget code at all, and a widget host gets the windows as before.
//
// A plugin is opened on first use, only on the GUI thread of a running
// QApplication, from the directory this library was loaded from, and stays
// loaded for the life of the process.
//
// Thread safety: any thread may call; off the GUI thread of a widget
// application both calls simply answer no.
namespace platform {

// True on the GUI thread of a QApplication (not a mere QCoreApplication):
// the only place widgets may be created.
bool OnWidgetGuiThread();

// The address of `symbol` in the plugin lib<plugin>.so, or null when not on
// the widget GUI thread or when the plugin or the symbol is missing (the
// reason goes to stderr once per plugin).
void* WidgetPluginSymbol(const char* plugin, const char* symbol);

} // namespace platform
