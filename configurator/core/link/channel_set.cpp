#include "channel_set.h"

#include "regaccess/request_properties.h"

namespace chronel {

const std::array<ChannelProperties, ChannelCount>& StoredChannelProperties()
{
    // name, Host, Port, TimeToLive, RoutePath, Adapter, Function, RegType, Address, Size, SlaveReg
    using namespace regaccess;
    static const std::array<ChannelProperties, ChannelCount> table{{
        {"modConfigRead", "127.0.0.1", 8001, 500, "1.0.0.0.0", 0, FunctionRead, RegTypeCoils, 1, 1, 40001},
        {"modConfigWrite", "192.168.16.99", 8001, 500, "255.0.0.0.0", 0, FunctionWrite, RegTypeHoldRegs, 1, 1, 40001},
        {"modEventScan", "127.0.0.1", 8001, 500, "1.0.0.0.0", 0, FunctionRead, RegTypeCoils, 1, 1, 40001},
        {"modPointScan", "192.168.16.99", 8001, 500, "1.0.0.0.0", 0, FunctionRead, RegTypeInputBits, 1, 1, 40001},
        {"modTimeSetup", "192.168.16.99", 8001, 500, "1.0.0.0.0", 0, FunctionRead, RegTypeHoldRegs, 50, 24, 40001},
        {"modFlash", "192.168.16.99", 8001, 500, "1.0.0.0.0", 0, FunctionRead, RegTypeCoils, 1, 1, 40001},
    }};
    return table;
}

ChannelSet::ChannelSet(const ControlFactory& factory, QObject* owner)
{
    const auto& stored = StoredChannelProperties();
    for (int i = 0; i < ChannelCount; ++i) {
        const ChannelProperties& p = stored[std::size_t(i)];
        QObject* control = factory ? factory(ControlClassName(), owner) : nullptr;
        if (control)
            control->setObjectName(QString::fromLatin1(p.name));
        auto* channel = new Channel(QString::fromLatin1(p.name), control, owner);
        channel->setHost(QString::fromLatin1(p.host));
        channel->setPort(p.port);
        channel->setTimeToLive(ReplyWindow() > 0 ? ReplyWindow() : p.timeToLive);
        channel->setRoutePath(QString::fromLatin1(p.routePath));
        channel->setAdapter(p.adapter);
        channel->setFunction(p.function);
        channel->setRegType(p.regType);
        channel->setAddress(p.address);
        channel->setSize(p.size);
        channel->setSlaveReg(p.slaveReg);
        channels_[std::size_t(i)] = channel;
    }
}

QStringList ChannelSet::problems() const
{
    QStringList result;
    for (const Channel* c : channels_) {
        if (!c->missingMembers().isEmpty())
            result << QStringLiteral("%1: %2").arg(c->name(), c->missingMembers().join(QStringLiteral(", ")));
    }
    return result;
}

} // namespace chronel
