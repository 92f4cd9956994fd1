#include "transfer.h"

namespace chronel {

Transfer::Transfer(ChronelModel& model, MessageSink sink, QObject* parent)
    : QObject(parent), upload_(model, sink, this), download_(model, sink, this)
{
    const auto relay = [this] { emit runningChanged(running()); };
    connect(&upload_, &TransferSequence::ended, this, relay);
    connect(&download_, &TransferSequence::ended, this, relay);
}

void Transfer::startUpload()
{
    download_.yield();
    upload_.start();
    emit runningChanged(running());
}

void Transfer::startDownload()
{
    upload_.yield();
    download_.start();
    emit runningChanged(running());
}

void Transfer::setPollInterval(int ms)
{
    upload_.setPollInterval(ms);
    download_.setPollInterval(ms);
}

} // namespace chronel
