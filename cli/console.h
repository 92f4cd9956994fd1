#pragma once
// The tool's output. Results go to stdout, one line at a time and flushed at
// once, so that a pipe sees each event line when it happens. Messages,
// traces and the progress bar go to stderr; the bar is drawn only when
// stderr is a terminal and is wiped before any other line is written, so
// the two never mix on one line.
//
// Texts are written in the locale's 8-bit encoding.
#include "core/model/user_message.h"

#include <QString>

#include <cstdio>

namespace chronelcli {

class Console {
public:
    Console(std::FILE* out, std::FILE* err, bool barOnErr);

    // One result line on stdout.
    void line(const QString& text);
    // One message line on stderr.
    void error(const QString& text);
    // A message the window would show in a box: its text (CR-separated lines
    // become lines), preceded by its title unless that is the program's own.
    void message(const chronel::UserMessage& message);
    chronel::MessageSink sink();

    // The bar for `label` at value of maximum; nothing when stderr is not a
    // terminal. endProgress() wipes it.
    void progress(const QString& label, qint64 value, qint64 maximum);
    void endProgress();

private:
    void write(std::FILE* stream, const QString& text);
    void wipeBar();
    void drawBar();

    std::FILE* out_;
    std::FILE* err_;
    bool barOnErr_;
    QString bar_; // the bar as drawn; empty when none is shown
};

} // namespace chronelcli
