#pragma once
// The main window's model and live data on real PLCTAG controls, talking
// Modbus TCP over loopback only: the module address is 127.0.0.1 before the
// first request, and the adapter file names a TCP/IP adapter 0 that the
// control serves itself.
#include "core/link/plctag_factory.h"
#include "core/live/live_data.h"
#include "core/model/chronel_model.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace chronel::test {

inline void UseTcpAdapter(const QTemporaryDir& dir, std::uint16_t port)
{
    const QString path = dir.filePath(QStringLiteral("PLCDRV.INI"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("[Adapter.Object.1]\r\nType=2\r\nEnabled=0\r\nHost=127.0.0.1\r\n");
    ::setenv("PLCDRV_INI", QFile::encodeName(path).constData(), 1);
    ::setenv("PLCTAG_TCP_PORT", std::to_string(port).c_str(), 1);
}

inline void SetModuleAddress(ChronelModel& model, const char* a, const char* b, const char* c, const char* d)
{
    model.settings().ConfigTcpipIp = {
        QString::fromLatin1(a), QString::fromLatin1(b), QString::fromLatin1(c), QString::fromLatin1(d)};
}

// The PC clock the tests see.
inline QDateTime FixedNow() { return QDateTime(QDate(2031, 5, 6), QTime(7, 8, 9)); }

struct LiveRig {
    explicit LiveRig(std::function<QDateTime()> now = FixedNow)
        : model(std::make_unique<ChronelModel>(PlctagControlFactory()))
    {
        SetModuleAddress(*model, "127", "0", "0", "1");
        live = std::make_unique<LiveData>(*model, std::move(now), QLocale::c());
    }
    ~LiveRig()
    {
        for (int i = 0; i < ChannelCount; ++i)
            model->channels()[ChannelId(i)].AutoPoll(0);
        live.reset();
        model.reset();
    }

    // The start-up order, then a fast poll so that a test needs no seconds.
    void start(int scanIntervalMs = 15)
    {
        model->startUp();
        model->channels().modEventScan().AutoPoll(scanIntervalMs);
    }

    Channel& scan() { return model->channels().modEventScan(); }
    Channel& timeSetup() { return model->channels().modTimeSetup(); }

    std::unique_ptr<ChronelModel> model;
    std::unique_ptr<LiveData> live;
};

inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

} // namespace chronel::test
