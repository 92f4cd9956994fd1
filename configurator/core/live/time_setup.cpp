#include "time_setup.h"

#include "regaccess/request_properties.h"

namespace chronel {

TimeSetup::TimeSetup(Channel& channel, TimeSetupHooks hooks, QObject* parent)
    : QObject(parent), channel_(channel), hooks_(std::move(hooks))
{
    connect(&channel_, &Channel::OnReadDone, this, &TimeSetup::onReadDone);
    connect(&channel_, &Channel::OnWriteDone, this, &TimeSetup::onWriteDone);
    connect(&channel_, &Channel::OnErrorEvent, this, &TimeSetup::onError);
}

void TimeSetup::setSerTime()
{
    channel_.setFunction(regaccess::FunctionWrite);
    channel_.setWordVal(statusblock::CommandWord, 0);
    step_ = Step::ClearCommand;
    // Without this a press before the first download would never reach the
    // module, with nothing on the screen to say so.
    if (channel_.pollInterval() == 0 && hooks_.moduleFree && hooks_.moduleFree())
        channel_.AutoPoll(TimeSetupPollInterval);
}

void TimeSetup::onReadDone()
{
    TimeSetupWords words{};
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = channel_.WordVal(int(i));
    if (hooks_.statusBlock)
        hooks_.statusBlock(words);
    if (hooks_.host)
        channel_.setHost(hooks_.host());
}

void TimeSetup::onWriteDone()
{
    switch (step_) {
    case Step::ClearCommand: {
        const QDateTime now = hooks_.now ? hooks_.now() : QDateTime::currentDateTime();
        const QDate date = now.date();
        const QTime time = now.time();
        channel_.setWordVal(statusblock::MonthWord, qint16(date.month()));
        channel_.setWordVal(statusblock::DayWord, qint16(date.day()));
        channel_.setWordVal(statusblock::YearWord, qint16(date.year()));
        channel_.setWordVal(statusblock::HourWord, qint16(time.hour()));
        channel_.setWordVal(statusblock::MinuteWord, qint16(time.minute()));
        channel_.setWordVal(statusblock::SecondWord, qint16(time.second()));
        step_ = Step::WriteTime;
        return;
    }
    case Step::WriteTime:
        channel_.setWordVal(statusblock::CommandWord, statusblock::TimeSetCommand);
        step_ = Step::LoadTime;
        return;
    case Step::LoadTime:
        channel_.setFunction(regaccess::FunctionRead);
        step_ = Step::Reading;
        return;
    case Step::Reading: return;
    }
}

void TimeSetup::onError(platform::ErrorCode)
{
    if (hooks_.host)
        channel_.setHost(hooks_.host());
}

} // namespace chronel
