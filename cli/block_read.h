#pragma once
// One read of a register block on a channel, as the event scan reads its
// blocks (holding registers, unit 255), with the transfers' patience: a
// failed request is repeated at the next poll, and the fourth failure ends
// the read.
#include "core/link/channel.h"

#include <QString>
#include <QVector>

namespace chronelcli {

struct BlockRead {
    bool ok = false;
    QVector<qint16> words;                                        // `size` words when ok
    platform::ErrorCode errorCode = platform::ErrorCode::NoError; // the last failure's
};

BlockRead ReadBlock(chronel::Channel& channel, const QString& host, qint32 firstRegister, int size, int pollIntervalMs);

// Why `read` of `module` failed: its communication failure in words with the
// window's text (see CommunicationFailureLine), or the user's interrupt.
QString ReadFailureText(const BlockRead& read, const QString& module);

} // namespace chronelcli
