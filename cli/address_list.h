#pragma once
// A site's modules in a file, for `--ip @FILE`: one module per line, its
// address and an optional name after it; `#` starts a comment, blank lines
// are ignored.
//
//   # Substation North, bay 1
//   127.0.0.1   Feeder 1
//   127.0.0.2   Feeder 2   # replaced 2026-03
#include <QString>
#include <QStringList>

#include <vector>

namespace chronelcli {

struct SiteModule {
    QString address;
    QString name; // empty when the line gives none
};

struct AddressList {
    std::vector<SiteModule> modules;
    QString error; // "FILE:LINE: what is wrong", or "FILE: why it cannot be read"; empty when good
};

// `text` is the file's contents; `fileName` only names it in errors.
AddressList ParseAddressList(const QString& text, const QString& fileName);

// Reads and parses the file.
AddressList ReadAddressList(const QString& path);

} // namespace chronelcli
