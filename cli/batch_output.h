#pragma once
// Output files of a batch: with several modules each gets its own file, the
// module's address inserted before the file name's extension
// ("site.csv" for 127.0.0.2 becomes "site.127.0.0.2.csv"). A single module
// writes the file as named.
#include <QString>

namespace chronelcli {

// `path` with `address` before the extension of its last component (at its
// end when there is none; a leading dot does not start an extension).
QString AddressedFileName(const QString& path, const QString& address);

// The file a module writes: `path` itself when the batch has one module.
QString BatchFileName(const QString& path, const QString& address, int moduleCount);

} // namespace chronelcli
