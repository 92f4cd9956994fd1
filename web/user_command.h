#pragma once
// chronel-web user add|del|passwd|list [--config F] [--journal J] [NAME] [--role R]
// The web accounts in the journal, from the command line: the password is
// read from the terminal without echo (twice), or as one line from standard
// input when that is not a terminal. The journal must exist (it is the
// collector's). Every change is audited as who "cli:<unix user>".
#include <QStringList>

#include <cstdio>

namespace chronel {

// Exit status: 0 done, 1 refused or failed, 2 a wrong command line.
int RunUserCommand(const QStringList& arguments, std::FILE* out, std::FILE* err);

// The Unix user running the program, as its audit names it: "cli:<name>".
QString CommandLineAuditor();

} // namespace chronel
