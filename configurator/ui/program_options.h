#pragma once
// The command line of chronel, the window's program, declared once in an
// option table (core/command_line/option_table.h), as chronel-cli's are: its
// parser, its help and its bash completion read that one table.
//
//   chronel [--ip A.B.C.D] [--settings FILE] [--timeout MS] [--screenshots DIR]
//
// --ip fills the four IP fields before the start-up sequence starts the event
// scan; without it the module's factory address 192.168.16.140 stands.
// --settings opens a settings file after start-up as File > Open does: the
// address the window talks to (--ip, or the factory address) is kept, and a
// file that holds another one asks whether to take it.
// --timeout sets the reply window of every channel (TimeToLive, 500 ms
// otherwise) for modules behind slow links.
// --screenshots saves a picture of each tab into DIR a few seconds after
// start-up (once the event scan has polled) and ends the program; it is meant
// for machines without a display, under the offscreen platform.
#include "core/command_line/option_table.h"
#include "core/model/module_settings.h"

#include <QString>

#include <optional>

class QCommandLineParser;

namespace chronel {

struct ProgramOptions {
    std::optional<OctetFields> ip;
    QString settings;
    std::optional<int> timeoutMs;
    QString screenshots;
    bool help = false;           // -h, --help
    bool helpAll = false;        // --help-all: Qt's own options as well
    bool bashCompletion = false; // --bash-completion: the script the package installs
};

OptionTable ProgramOptionTable(ProgramOptions& options);

// The help in Qt's layout, as QCommandLineParser writes it from the table's
// options (the stopping switches are its own help options).
void DescribeProgram(QCommandLineParser& parser, const OptionTable& table);

} // namespace chronel
