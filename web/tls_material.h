#pragma once
// The server's certificate and private key. Either the files the settings
// name, or a self-signed pair kept in the state folder: made on the first
// start (an EC P-256 key, SHA-256 signature, ten years, names localhost,
// 127.0.0.1, ::1 and the host's name) and used again on every later one.
// The key file is 0600 and both files are written atomically.
#include <QByteArray>
#include <QString>
#include <optional>

namespace chronel {

struct TlsMaterial {
    QByteArray certificatePem;
    QByteArray keyPem;
    // SHA-256 of the certificate as colon-separated hex pairs: what a user
    // compares with the browser's before trusting a self-signed certificate.
    QString fingerprint;
    QString certificatePath;
    bool made = false; // made now, not read
};

inline const QString SelfSignedCertificateName = QStringLiteral("web-certificate.pem");
inline const QString SelfSignedKeyName = QStringLiteral("web-key.pem");

// The pair in these files, checked to belong together.
std::optional<TlsMaterial> ReadTlsMaterial(const QString& certificatePath, const QString& keyPath, QString* error);

// The self-signed pair in `stateFolder`, made there when either file is
// missing (the folder too).
std::optional<TlsMaterial> SelfSignedTlsMaterial(const QString& stateFolder, QString* error);

// Writes `bytes` to a new file of `mode` beside `path`, synced, and renames
// it over `path`; a symbolic link at `path` is replaced, never followed.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, unsigned mode, QString* error);

} // namespace chronel
