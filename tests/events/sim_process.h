#pragma once
// chronel-sim as a child process of a test: started on 127.0.0.1 with a port
// of its own choosing (or a given one, to come back after a stop), stopped by
// its pid with SIGTERM and, if it does not end, SIGKILL. Bounded in time.
#include <QProcess>
#include <QStringList>

#include <cstdint>

namespace chronel::test {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the simulator with `args` besides the listen address and port;
    // true once it has announced its port.
    bool start(const QStringList& args, std::uint16_t port = 0)
    {
        QStringList all{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                        QString::number(port)};
        all += args;
        process_.setProgram(QStringLiteral(CHRONEL_SIM));
        process_.setArguments(all);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(5000))
            return false;
        QByteArray out;
        for (int i = 0; i < 50 && !out.contains('\n'); ++i) {
            if (!process_.waitForReadyRead(100) && process_.state() != QProcess::Running)
                return false;
            out += process_.readAllStandardOutput();
        }
        const QByteArray line = out.left(out.indexOf('\n')).trimmed();
        if (!line.startsWith("tcp-port "))
            return false;
        port_ = std::uint16_t(line.mid(9).toUInt());
        return port_ != 0;
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }

    std::uint16_t port() const { return port_; }
    bool running() const { return process_.state() == QProcess::Running; }

private:
    QProcess process_;
    std::uint16_t port_ = 0;
};

} // namespace chronel::test
