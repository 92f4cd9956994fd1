#pragma once
// The tool's output. Results go to stdout, one line at a time and flushed at
// once, so that a pipe sees each event line when it happens. Messages,
// traces and the progress display go to stderr; the display is drawn only
// when stderr is a terminal and is wiped before any other line is written,
// so the two never mix on one line.
//
// In a run on several modules at once each module writes through a view of
// the process's console: its lines start with "ADDRESS: " and its progress
// is a line of its own in the display, one line per running module. All
// consoles of a process share one lock; any thread may write.
//
// Texts are written in the locale's 8-bit encoding. Every line is one line:
// a control character in it (a module's text may hold any) is written as
// \xHH (platform/printable_text.h), so no text moves the cursor, retitles
// the terminal or starts a line of its own.
#include "core/model/user_message.h"
#include "terminal.h"

#include <QString>

#include <cstdio>
#include <memory>

namespace chronelcli {

class Console {
public:
    Console(std::FILE* out, std::FILE* err, bool terminal, TerminalSize size = {});
    // A module's view of `process` (the process's console). In a concurrent
    // run `tag` starts its lines and names its line in the display, which it
    // holds from now until it is destroyed; without a tag the view writes as
    // the process's console does and only keeps its own record below.
    Console(Console& process, const QString& tag);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // One result line on stdout.
    void line(const QString& text);
    // The program's own text of several lines (help), a line for each.
    void lines(const QString& text);
    // One message line on stderr.
    void error(const QString& text);
    // A frame trace line on stderr: no message of the module's.
    void trace(const QString& text);
    // A message the window would show in a box: its text (CR-separated lines
    // become lines), preceded by its title unless that is the program's own.
    void message(const chronel::UserMessage& message);
    chronel::MessageSink sink();

    // The bar for `label` at value of maximum; nothing when stderr is not a
    // terminal. endProgress() takes it away.
    void progress(const QString& label, qint64 value, qint64 maximum);
    void endProgress();

    // Whether the display is drawn (stderr is a terminal).
    bool terminal() const;
    // Draws the display again: the running modules' times move on.
    void refresh();

    // What a module view wrote, without its tag, for the run's summary.
    QString firstError() const { return firstError_; }
    QString lastLine() const { return lastLine_; }

private:
    struct Screen;
    void write(bool toStderr, const QString& text);

    std::shared_ptr<Screen> screen_;
    QString tag_; // empty for the process's console
    QString firstError_;
    QString lastLine_;
};

// While it lives, what the libraries report on this thread (frames, message
// boxes) is the module's of `console`.
class ModuleConsoleScope {
public:
    explicit ModuleConsoleScope(Console& console);
    ~ModuleConsoleScope();
    ModuleConsoleScope(const ModuleConsoleScope&) = delete;
    ModuleConsoleScope& operator=(const ModuleConsoleScope&) = delete;

private:
    Console* previous_;
};

// The module console of this thread's scope, else `process`.
Console& ConsoleOfThisThread(Console& process);

// While it lives, the libraries' message boxes, which a command-line program
// cannot show, are lines of the showing thread's console.
class MessageBoxRoute {
public:
    explicit MessageBoxRoute(Console& process);
    ~MessageBoxRoute();
    MessageBoxRoute(const MessageBoxRoute&) = delete;
    MessageBoxRoute& operator=(const MessageBoxRoute&) = delete;
};

} // namespace chronelcli
