#pragma once
// A site's modules in a file, for `--ip @FILE`: one module per line, its
// address and an optional name after it; `#` starts a comment, blank lines
// are ignored.
//
//   # Substation North, bay 1
//   127.0.0.1   Feeder 1
//   127.0.0.2   Feeder 2   # replaced 2026-03
//   127.0.0.9,adapter=1   Bay 9 on the serial line of adapter 1
//   127.0.0.10,tz=+05:30  Bay 10, whose clock runs on Indian time
//   tz=Europe/Berlin      the zone of every module that declares none
//
// An address may name the logical adapter (0 … 7, as DRVSETUP numbers them)
// that reaches the module, here as on the command line; adapter 0 when it
// names none. It may declare the zone its clock runs on (module_zone.h); a
// line of its own, "tz=ZONE", declares it for every other module of the
// file. Addresses are kept in their shortest decimal form, so one
// module is one address however it was written. A file that is not a
// regular one or is larger than platform::SmallFileLimit is refused.
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace chronelcli {

struct SiteModule {
    QString address;
    QString name; // empty when the line gives none
    int adapter = 0;
    QString zone; // as declared (stored form); empty when none is
};

constexpr int AdapterCount = 8;

// "A.B.C.D", optionally followed by ",adapter=N" and ",tz=ZONE": the module
// with an empty name, or nothing with `error` saying what is wrong.
std::optional<SiteModule> ParseModuleWord(const QString& word, QString* error);

struct AddressList {
    std::vector<SiteModule> modules;
    QString error; // "FILE:LINE: what is wrong", or "FILE: why it cannot be read"; empty when good
};

// `text` is the file's contents; `fileName` only names it in errors.
AddressList ParseAddressList(const QString& text, const QString& fileName);

// Reads and parses the file.
AddressList ReadAddressList(const QString& path);

} // namespace chronelcli
