#include "module_session.h"

#include "console.h"
#include "core/link/plctag_factory.h"
#include "failure_report.h"
#include "regaccess/transport_choice.h"

#include <cerrno>

namespace chronelcli {

ModuleSession::ModuleSession(const QString& address, Console& console, int adapter)
    : address_(address), adapter_(adapter)
{
    model_ = std::make_unique<chronel::ChronelModel>(chronel::PlctagControlFactory(&site_));
    model_->setConnectionHost(address_);
    for (int i = 0; i < chronel::ChannelCount; ++i) {
        model_->channels()[chronel::ChannelId(i)].setHost(address_);
        model_->channels()[chronel::ChannelId(i)].setAdapter(adapter_);
    }

    // A disabled site refuses AutoPoll, so the start-up order prepares the
    // event scan without its first request and without a poll timer.
    site_.setEnabled(false);
    model_->startUp();
    site_.setEnabled(true);

    QObject::connect(
        model_.get(), &chronel::ChronelModel::statusMessage, model_.get(), [this, &console](const QString& text) {
            if (hintShown_)
                return;
            hintShown_ = true;
            // The hint names an adapter file that could not be read; --tcp
            // would not help when the reason is the process's own limit.
            const regaccess::AdapterSettingsFailure unread = regaccess::lastAdapterSettingsFailure();
            if (unread.file.isEmpty())
                console.error(text + QStringLiteral(" Or run with --tcp."));
            else if (unread.systemError == EMFILE || unread.systemError == ENFILE)
                console.error(text + QLatin1Char(' ') + OpenFileLimitAdvice());
            else
                console.error(text);
        });
}

ModuleSession::~ModuleSession()
{
    stopPolling();
    extra_.clear();
    model_.reset();
}

bool ModuleSession::overDriver() const { return OverDriver(address_, adapter_); }

QString ModuleSession::moduleName() const
{
    const regaccess::TransportChoice choice = regaccess::transportFor(adapter_, address_);
    return choice.peer.isEmpty() ? address_ : choice.peer;
}

bool OverDriver(const QString& address, int adapter)
{
    return regaccess::transportFor(adapter, address).kind == regaccess::TransportKind::Driver;
}

chronel::Channel& ModuleSession::createChannel(const QString& name)
{
    const chronel::ControlFactory factory = chronel::PlctagControlFactory(&site_);
    QObject* control = factory(chronel::ControlClassName(), model_.get());
    extra_.push_back(std::make_unique<chronel::Channel>(name, control));
    chronel::Channel& channel = *extra_.back();
    channel.setHost(address_);
    channel.setAdapter(adapter_);
    return channel;
}

void ModuleSession::stopPolling()
{
    for (int i = 0; i < chronel::ChannelCount; ++i)
        model_->channels()[chronel::ChannelId(i)].AutoPoll(0);
    for (const auto& channel : extra_)
        channel->AutoPoll(0);
}

} // namespace chronelcli
