#pragma once
// Account passwords as libsodium's Argon2id strings ("$argon2id$v=19$…"),
// which carry their own salt and cost. Hashing takes a fraction of a second
// and 64 MiB on purpose: a stolen journal does not give its passwords away
// cheaply.
//
// Thread safety: every function may run on any thread.
#include <QByteArray>
#include <QString>
#include <optional>

namespace chronel {

// Ready for use: initialises libsodium once. False when it cannot start.
bool PasswordHashReady();

// The Argon2id string of `password`, or nothing when the memory for it
// cannot be had.
std::optional<QString> HashPassword(const QByteArray& password);

// Whether `password` is the one `hash` was made from. A hash that is not an
// Argon2id string matches nothing.
bool VerifyPassword(const QString& hash, const QByteArray& password);

// Spends the time a verification takes without any account to verify: a
// login with an unknown name answers no sooner than one with a wrong
// password, so the time does not tell which names exist.
void VerifyNothing(const QByteArray& password);

} // namespace chronel
