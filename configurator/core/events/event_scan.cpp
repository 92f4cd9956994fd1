#include "event_scan.h"

#include "core/fields/calendar_text.h"
#include "core/fields/date_text.h"
#include "core/fields/module_address.h"
#include "core/fields/number_rule.h"

#include "platform/error_code.h"
#include "regaccess/request_properties.h"

#include <algorithm>

namespace chronel {

EventScan::EventScan(
    Channel& channel, EventDisplay* display, EventScanHooks hooks, const QLocale& locale, QObject* parent)
    : QObject(parent), channel_(channel), display_(display), hooks_(std::move(hooks)), locale_(locale), decoder_(locale)
{
    connect(&channel_, &Channel::OnReadDone, this, &EventScan::onReadDone);
    connect(&channel_, &Channel::OnWriteDone, this, &EventScan::onWriteDone);
    connect(&channel_, &Channel::OnErrorEvent, this, &EventScan::onError);
}

template <std::size_t N> std::array<qint16, N> EventScan::readWords() const
{
    std::array<qint16, N> words{};
    for (std::size_t i = 0; i < N; ++i)
        words[i] = channel_.WordVal(int(i));
    return words;
}

void EventScan::prepareRead(qint32 address, int regType, int size)
{
    channel_.setAddress(address);
    channel_.setFunction(regaccess::FunctionRead);
    channel_.setRegType(regType);
    channel_.setSize(size);
    channel_.setRoutePath(ModuleRoutePath());
}

void EventScan::prepareEventAvailable()
{
    prepareRead(EventAvailableCoil, regaccess::RegTypeCoils, 1);
    step_ = Step::EventAvailable;
}

void EventScan::prepareStatusBlock()
{
    prepareRead(StatusBlockRegister, regaccess::RegTypeHoldRegs, StatusBlockWordCount);
    step_ = Step::StatusBlock;
}

void EventScan::prepareCycleEnd()
{
    if (!hooks_.statusBlockDue || hooks_.statusBlockDue())
        prepareStatusBlock();
    else
        prepareEventAvailable();
}

void EventScan::addLine(const QString& line)
{
    if (display_)
        display_->addLine(line);
}

void EventScan::onReadDone()
{
    const Step answered = step_;
    handleRead();
    if (hooks_.completed)
        hooks_.completed(answered);
}

void EventScan::handleRead()
{
    switch (step_) {
    case Step::EventAvailable:
        eventAvailable_ = channel_.BitVal(0, 0);
        drainRead_ = false;
        if (hooks_.host)
            channel_.setHost(hooks_.host());
        if (!eventAvailable_ && hooks_.idleBlockWanted && !hooks_.idleBlockWanted()) {
            // An empty buffer after a failed acknowledge: it was carried out.
            unconfirmed_.reset();
            prepareCycleEnd();
            return;
        }
        prepareRead(EventBlockRegister, regaccess::RegTypeHoldRegs, EventBlockWordCount);
        step_ = Step::EventBlock;
        return;

    case Step::EventBlock: {
        const EventBlockWords block = readWords<EventBlockWordCount>();
        const qint16 pending = block[eventblock::PendingEventsWord];
        // A block asked for on word 5's count alone that finds the module
        // empty (another client drained it) is an idle block: it is not
        // taken, and no acknowledge follows it that could drain an unseen
        // event.
        if (drainRead_ && quint16(pending) == 0)
            eventAvailable_ = false;
        drainRead_ = false;
        if (hooks_.eventBlock)
            hooks_.eventBlock(block, eventAvailable_);
        if (!eventAvailable_) {
            // An empty buffer after a failed acknowledge: it was carried out.
            unconfirmed_.reset();
            if (hooks_.eventCount)
                hooks_.eventCount(pending);
            prepareCycleEnd();
            return;
        }
        if (hooks_.monitorMode && hooks_.monitorMode()) {
            const auto recordArea = block.begin() + eventblock::FirstRecordWord;
            if (!std::equal(recordArea, block.end(), snapshot_.begin() + eventblock::FirstRecordWord)) {
                for (const QString& line : decoder_.decode(block))
                    addLine(line);
            }
            snapshot_ = block;
            if (hooks_.eventCount)
                hooks_.eventCount(pending);
            prepareCycleEnd();
            return;
        }
        if (hooks_.eventCount)
            hooks_.eventCount(pending);
        const int firstNew = RecordsTakenBefore(block, unconfirmed_);
        const EventDecoder decoderBefore = decoder_;
        const QList<DecodedEvent> events = decoder_.decodeEvents(block, firstNew);
        if (eventsTaken_ && !eventsTaken_(events, block)) {
            decoder_ = decoderBefore;
            prepareCycleEnd();
            return;
        }
        unconfirmed_.reset();
        for (const DecodedEvent& event : events)
            if (!event.marks.testFlag(EventMark::NoLine))
                addLine(event.line);
        shown_ = block;
        channel_.setAddress(AcknowledgeCoil);
        channel_.setFunction(regaccess::FunctionWrite);
        channel_.setRegType(regaccess::RegTypeCoils);
        channel_.setSize(1);
        channel_.setRoutePath(ModuleRoutePath());
        channel_.setWordVal(0, 1);
        step_ = Step::Acknowledge;
        return;
    }

    case Step::Acknowledge: prepareCycleEnd(); return;

    case Step::StatusBlock: {
        const StatusBlockWords status = readWords<StatusBlockWordCount>();
        if (hooks_.statusBlock)
            hooks_.statusBlock(status);
        if (hooks_.statisticsWanted && hooks_.statisticsWanted()) {
            prepareRead(StatisticsBlockRegister, regaccess::RegTypeHoldRegs, StatisticsBlockWordCount);
            step_ = Step::StatisticsBlock;
        } else {
            prepareEventAvailable();
        }
        return;
    }

    case Step::StatisticsBlock: {
        const StatisticsBlockWords stats = readWords<StatisticsBlockWordCount>();
        if (hooks_.statisticsBlock)
            hooks_.statisticsBlock(stats);
        prepareEventAvailable();
        return;
    }

    case Step::Restart: prepareEventAvailable(); return;
    }
}

void EventScan::onWriteDone()
{
    const Step answered = step_;
    if (step_ == Step::Acknowledge && acknowledged_)
        acknowledged_(shown_);
    const int left = int(quint16(shown_[eventblock::PendingEventsWord])) - EventDecoder::RecordCount(shown_);
    if (step_ == Step::Acknowledge && hooks_.statusBlockDue && left > 0 && !hooks_.statusBlockDue()) {
        // Draining: the module still holds events, so coil 1 would only say so.
        prepareRead(EventBlockRegister, regaccess::RegTypeHoldRegs, EventBlockWordCount);
        step_ = Step::EventBlock;
        eventAvailable_ = true;
        drainRead_ = true;
    } else {
        prepareCycleEnd();
    }
    if (hooks_.completed)
        hooks_.completed(answered);
}

int EventScan::RecordsTakenBefore(const EventBlockWords& block, const std::optional<EventBlockWords>& unconfirmed)
{
    if (!unconfirmed || !EventDecoder::HoldsRecordsOf(block, *unconfirmed))
        return 0;
    const int pending = quint16(block[eventblock::PendingEventsWord]);
    const int pendingThen = quint16((*unconfirmed)[eventblock::PendingEventsWord]);
    if (pending < pendingThen)
        return 0;
    return EventDecoder::RecordCount(*unconfirmed);
}

void EventScan::onError(platform::ErrorCode code)
{
    const Step answered = step_;
    // Made before the host follows the IP fields: it names the address that failed.
    const QString line = errorLine(code, hooks_.now ? hooks_.now() : QDateTime::currentDateTime());
    if (hooks_.host)
        channel_.setHost(hooks_.host());
    addLine(line);
    if (step_ == Step::Acknowledge) {
        // Whether the module took the acknowledge is unknown: read the block
        // again rather than repeat a write that may drain an unseen one.
        unconfirmed_ = shown_;
        prepareEventAvailable();
    }
    if (hooks_.failed)
        hooks_.failed(answered, code);
}

QString EventScan::ErrorMessage(platform::ErrorCode code)
{
    const QString words = platform::errorText(code, platform::ErrorWording::Window);
    if (!words.isEmpty())
        return QStringLiteral("  Communications error - ") + words;
    return QStringLiteral("  Communications error # ") + NumberText(platform::errorNumber(code));
}

QString EventScan::errorLine(platform::ErrorCode code, const QDateTime& when) const
{
    return ShortDateText(when.date(), locale_) + QStringLiteral("  ") + LocaleTimeText(when.time(), locale_) +
        QStringLiteral("  [PC clock]  ") + channel_.Host() + ErrorMessage(code);
}

} // namespace chronel
