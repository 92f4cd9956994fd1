#pragma once
// What the upload and the download have in common: a step machine on one
// channel of its own whose step is the channel's Address, driven by the
// channel's automatic poll (every 500 ms; the first request goes out at once),
// an error counter over the whole sequence, the stop host, and the hand-over
// of the module between the transfer and the scan channels.
//
// A communication error leaves the request as it is, so the next poll repeats
// it; the fourth error of one sequence aborts it with a message. Error 10022
// on a channel that carries the stop host is a request that went out after
// its sequence had been stopped: it ends the sequence silently.
//
// Messages are handed to the sink after the channel's event handler has
// returned, never from inside it: a modal box runs the event loop, and a
// restart chosen meanwhile must not re-enter the control that is still
// delivering its event.
//
// Everything runs on the window's thread inside the channels' events.
#include "core/link/channel_set.h"
#include "core/model/chronel_model.h"
#include "core/model/user_message.h"

#include <QObject>
#include <QString>

namespace chronel {

constexpr int TransferErrorLimit = 3; // errors a sequence survives

// Title of the sequences' message boxes: the program's title.
inline QString TransferMessageTitle() { return QStringLiteral("Chronel"); }

enum class TransferOutcome {
    Idle, // never started
    Running,
    Finished,  // every block transferred
    Failed,    // fourth error, or a completion the block table does not know
    Stopped,   // error 10022 on the stop host: ended without a message
    TakenOver, // the other sequence was started
};

class TransferSequence : public QObject {
    Q_OBJECT
public:
    bool running() const { return outcome_ == TransferOutcome::Running; }
    TransferOutcome outcome() const { return outcome_; }
    // Errors since the sequence was last started.
    int TransferErrorCount() const { return errorCount_; }

    // The poll interval of the next start; 500 ms unless set.
    void setPollInterval(int ms) { pollInterval_ = ms; }
    // Errors a run survives; the window's TransferErrorLimit unless set (a
    // collector reading the point table over a lossy link allows more).
    void setErrorLimit(int errors) { errorLimit_ = errors; }
    int pollInterval() const { return pollInterval_; }

    Channel& channel() { return channel_; }

    // The other sequence has started: its start already stopped this
    // channel's polling and took over the progress display. No message.
    void yield();

signals:
    void ended(chronel::TransferOutcome outcome);

protected:
    TransferSequence(ChronelModel& model, Channel& channel, QString failureText, MessageSink sink, QObject* parent);

    ChannelSet& channels() { return model_.channels(); }
    // Counter to 0 and running; the caller prepares and starts the channel.
    void begin();
    // Ends the sequence with `outcome` and tells the listeners.
    void end(TransferOutcome outcome);
    // "The upload sequence failed" / "The download sequence failed", shown
    // once the current event handler has returned.
    void reportFailure();

    ChronelModel& model_;
    Channel& channel_;

private:
    void onError(platform::ErrorCode code);

    QString failureText_;
    MessageSink sink_;
    int errorCount_ = 0;
    int errorLimit_ = TransferErrorLimit;
    int pollInterval_ = TransferPollInterval;
    TransferOutcome outcome_ = TransferOutcome::Idle;
};

} // namespace chronel
