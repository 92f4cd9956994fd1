#pragma once
// The event scan: the configurator's permanent conversation with the module
// on modEventScan while no transfer runs. Each completed request advances a
// step machine whose step is its whole state; the handler prepares the next
// request and the channel's automatic poll sends it at the next tick.
//
//   EventAvailable   coil 1 read            → read event block 101…200
//   EventBlock       event block read       → Retrieve with events: write
//                    coil 2 (acknowledge); otherwise → read status block 200…299
//   Acknowledge      acknowledge written    → read status block
//   StatusBlock      status block read      → statistics block 1501…1600
//                    while a statistics or test-mode window wants it, else coil 1
//   StatisticsBlock  statistics block read  → coil 1
//   Restart          any completion         → coil 1
//
// In Monitor mode the block is never acknowledged and decoded only when its
// record area (words 10 … 99) differs from the snapshot of the last block
// seen. A failed request leaves step and request as they are, so the next
// poll repeats it; the failure becomes a line in the event display.
//
// The acknowledge is the exception: a failed write may have been carried out
// with only its reply lost, and a blind repeat would then drain a block
// nobody read. So a failed acknowledge goes back to coil 1 instead. If the
// block read next still holds the records just shown and the module counts
// no fewer pending events than then, the module did not take the
// acknowledge: only the records it added since are shown, then it is
// acknowledged again. Any other block is new and shown whole: fewer pending
// events mean the acknowledged records left the module, so a block that
// begins with the same bytes holds genuine repeats.
//
// Everything runs on the window's thread inside the channel's events.
#include "core/link/channel.h"
#include "core/model/module_map.h"
#include "event_decoder.h"
#include "event_display.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <array>
#include <functional>
#include <optional>

namespace chronel {

using StatusBlockWords = std::array<qint16, StatusBlockWordCount>;
using StatisticsBlockWords = std::array<qint16, StatisticsBlockWordCount>;

// The request under way, named by what it reads or writes.
enum class EventScanStep { EventAvailable, EventBlock, Acknowledge, StatusBlock, StatisticsBlock, Restart };

// What the scan needs from the program around it, the window or a collector;
// every hook may be left empty.
struct EventScanHooks {
    std::function<QString()> host;                  // GetIp
    std::function<bool()> monitorMode;              // Tools > "Monitor Event Data" checked; else Retrieve
    std::function<bool()> statisticsWanted;         // a statistics or test-mode window is open
    std::function<void(qint16 pending)> eventCount; // word 5 of the event block
    // Every event block as it is read, before anything is decoded;
    // `eventsAvailable` is what coil 1 said before it.
    std::function<void(const EventBlockWords& block, bool eventsAvailable)> eventBlock;
    std::function<void(const StatusBlockWords&)> statusBlock;
    std::function<void(const StatisticsBlockWords&)> statisticsBlock;
    // After the scan handled a completion: the request it answered, and for
    // a failed one its code.
    std::function<void(EventScanStep answered)> completed;
    std::function<void(EventScanStep failed, platform::ErrorCode code)> failed;
    std::function<QDateTime()> now; // for error lines; the system clock when empty

    // A collector's pace; both empty in the window, which reads every block
    // of the cycle. `statusBlockDue`: whether this cycle reads the status
    // block; while it says no, a confirmed acknowledge that leaves events in
    // the module (word 5 of the block above its records) is followed by the
    // next block at once, without asking coil 1. `idleBlockWanted`: whether
    // the event block is read when coil 1 says the module holds none.
    std::function<bool()> statusBlockDue;
    std::function<bool()> idleBlockWanted;
};

class EventScan : public QObject {
    Q_OBJECT
public:
    using Step = EventScanStep;

    // `display`: where event and error lines go; none for a collector.
    EventScan(Channel& channel, EventDisplay* display, EventScanHooks hooks, const QLocale& locale = QLocale::system(),
        QObject* parent = nullptr);

    Step step() const { return step_; }
    // For a window that restores a scan: the next completion, whatever its
    // request was, starts the cycle again at coil 1.
    void restartCycle() { step_ = Step::Restart; }
    const EventBlockWords& snapshot() const { return snapshot_; }
    // What the last read of coil 1 said: the module has events to hand out.
    bool eventAvailable() const { return eventAvailable_; }

    // Retrieve mode: a block's new events, before anything is shown and
    // before the block is acknowledged. A false answer leaves the block
    // unacknowledged and the scan as it was before the read, so the next
    // cycle hands out the same events again; a collector that could not
    // store them loses nothing.
    using EventsTaken = std::function<bool(const QList<DecodedEvent>& events, const EventBlockWords& block)>;
    void setEventsTaken(EventsTaken taken) { eventsTaken_ = std::move(taken); }
    // The module confirmed the acknowledge of `block`: its records have left it.
    using Acknowledged = std::function<void(const EventBlockWords& block)>;
    void setAcknowledged(Acknowledged acknowledged) { acknowledged_ = std::move(acknowledged); }
    // A block taken before whose acknowledge was never confirmed (a collector
    // started again after it was stopped between the two): the next block is
    // compared with it as after a failed acknowledge.
    void setUnconfirmed(const std::optional<EventBlockWords>& block) { unconfirmed_ = block; }
    const std::optional<EventBlockWords>& unconfirmed() const { return unconfirmed_; }
    // The next request reads the status block, so that the module's clock is
    // known before the first event block.
    void readStatusBlockNext() { prepareStatusBlock(); }
    EventDecoder& decoder() { return decoder_; }
    // How many of `block`'s first records a decode of `unconfirmed` took
    // already: all of them when the module presents them again, else none.
    static int RecordsTakenBefore(const EventBlockWords& block, const std::optional<EventBlockWords>& unconfirmed);

    // The message of a failed request's code, beginning with two blanks.
    static QString ErrorMessage(platform::ErrorCode code);
    // "<short date>  <time>  [PC clock]  <address><message>" for `code` at
    // `when`, the PC's time (marked, since event lines carry the module's),
    // and the address the channel's request went to.
    QString errorLine(platform::ErrorCode code, const QDateTime& when) const;

private:
    void onReadDone();
    void onWriteDone();
    void onError(platform::ErrorCode code);
    void handleRead();
    void addLine(const QString& line);

    void prepareRead(qint32 address, int regType, int size);
    void prepareEventAvailable();
    void prepareStatusBlock();
    // The end of a cycle's event part: the status block, or coil 1 when the
    // collector's pace does not want the status block yet.
    void prepareCycleEnd();
    template <std::size_t N> std::array<qint16, N> readWords() const;

    Channel& channel_;
    EventDisplay* display_;
    EventScanHooks hooks_;
    QLocale locale_;
    EventDecoder decoder_;
    Step step_ = Step::EventAvailable;
    bool eventAvailable_ = false;
    // The block under way was asked for straight after an acknowledge, on
    // the strength of word 5, not of coil 1.
    bool drainRead_ = false;
    EventBlockWords snapshot_{};
    EventBlockWords shown_{};                    // the block whose acknowledge is under way
    std::optional<EventBlockWords> unconfirmed_; // shown, acknowledge failed
    EventsTaken eventsTaken_;
    Acknowledged acknowledged_;
};

} // namespace chronel
