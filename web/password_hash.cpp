#include "web/password_hash.h"

#include <sodium.h>

#include <mutex>

namespace chronel {

namespace {

// The cost of a login: libsodium's interactive limits (2 passes over 64 MiB).
constexpr unsigned long long Passes = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr size_t Memory = crypto_pwhash_MEMLIMIT_INTERACTIVE;

} // namespace

bool PasswordHashReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::optional<QString> HashPassword(const QByteArray& password)
{
    if (!PasswordHashReady())
        return std::nullopt;
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(
            out, password.constData(), static_cast<unsigned long long>(password.size()), Passes, Memory) != 0)
        return std::nullopt;
    return QString::fromLatin1(out);
}

bool VerifyPassword(const QString& hash, const QByteArray& password)
{
    if (!PasswordHashReady())
        return false;
    const QByteArray text = hash.toLatin1();
    if (text.size() >= crypto_pwhash_STRBYTES || !text.startsWith("$argon2id$"))
        return false;
    return crypto_pwhash_str_verify(
               text.constData(), password.constData(), static_cast<unsigned long long>(password.size())) == 0;
}

void VerifyNothing(const QByteArray& password)
{
    // A hash of the same cost as the accounts', made once.
    static const QString dummy = HashPassword(QByteArrayLiteral("no account has this password")).value_or(QString());
    (void)VerifyPassword(dummy, password);
}

} // namespace chronel
