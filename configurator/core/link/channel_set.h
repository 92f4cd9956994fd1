#pragma once
// The six register-access channels of the main window, each used by one
// activity, created by class name when the window is created and given the
// stored property values a fresh window starts with.
#include "channel.h"

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>

namespace chronel {

// Creates a control by its class name ("PLCTAGLib.Plctag") with `parent` as
// owner; nullptr when the class is unknown.
using ControlFactory = std::function<QObject*(const QString& className, QObject* parent)>;

inline QString ControlClassName() { return QStringLiteral("PLCTAGLib.Plctag"); }

// Stored property values of one channel as the window starts with them.
struct ChannelProperties {
    const char* name;
    const char* host;
    int port;
    int timeToLive;
    const char* routePath;
    int adapter;
    int function;
    int regType;
    qint32 address;
    int size;
    qint32 slaveReg;
};

enum class ChannelId { ConfigRead, ConfigWrite, EventScan, PointScan, TimeSetup, Flash };
constexpr int ChannelCount = 6;

const std::array<ChannelProperties, ChannelCount>& StoredChannelProperties();

class ChannelSet {
public:
    // Creates the six controls through `factory`, owned by `owner`. A channel
    // whose control cannot be created is still present (see Channel).
    ChannelSet(const ControlFactory& factory, QObject* owner);

    Channel& operator[](ChannelId id) { return *channels_[std::size_t(id)]; }
    const Channel& operator[](ChannelId id) const { return *channels_[std::size_t(id)]; }

    Channel& modConfigRead() { return (*this)[ChannelId::ConfigRead]; }
    Channel& modConfigWrite() { return (*this)[ChannelId::ConfigWrite]; }
    Channel& modEventScan() { return (*this)[ChannelId::EventScan]; }
    Channel& modPointScan() { return (*this)[ChannelId::PointScan]; }
    Channel& modTimeSetup() { return (*this)[ChannelId::TimeSetup]; }
    Channel& modFlash() { return (*this)[ChannelId::Flash]; }

    // Names of controls that could not be created or miss members, with what
    // they miss; empty when every channel is complete.
    QStringList problems() const;

private:
    std::array<Channel*, ChannelCount> channels_{};
};

} // namespace chronel
