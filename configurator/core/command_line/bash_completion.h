#pragma once
// A program's bash completion, written from the declarations of its
// command line (option_table.h): the package installs what the program
// prints, so the completion offers exactly the options the parser takes.
//
// It completes option names, a value by its declared kind (files,
// directories or words; nothing for free text such as an address), a
// program of commands' command names, and operands by position. The script
// needs bash only (not the bash-completion package's helpers); it reads
// "--name=value" whether or not "=" splits words in COMP_WORDBREAKS.
#include "option_table.h"

#include <QList>
#include <QString>

namespace chronel {

// A command of a program of commands, with its own options and operands;
// the program's options apply after the command too.
struct CompletedCommand {
    QString name;
    const OptionTable* table;
};

QString BashCompletion(
    const QString& program, const OptionTable& options, const QList<CompletedCommand>& commands = {});

} // namespace chronel
