#pragma once
// A Flash tab model on real controls, talking to chronel-sim through the
// recording proxy, with every channel aimed at 127.0.0.1.
#include "flash_test_peers.h"
#include "support/sim_process.h"

#include "core/flash/flash_model.h"
#include "regaccess/control_factory.h"
#include "regaccess/plctag.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace chronel::test {

inline const QString Loopback = QStringLiteral("127.0.0.1");

class FlashFixture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        // The control's own Modbus TCP client serves adapter 0.
        const QString ini = dir_.filePath(QStringLiteral("PLCDRV.INI"));
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Adapter.Object.1]\nType=2\nEnabled=0\n");
        file.close();
        ::setenv("PLCDRV_INI", QFile::encodeName(ini).constData(), 1);
    }

    void TearDown() override
    {
        model_.reset();
        owner_.reset(); // controls, then channels
        proxy_.reset();
        sim_.stop();
    }

    // Starts the module and the configurator side; `simOptions` add faults.
    void startModule(const QStringList& simOptions = {})
    {
        std::vector<std::string> args;
        for (const QString& option : simOptions)
            args.push_back(option.toStdString());
        ASSERT_GT(sim_.startTcp(args), 0) << sim_.stderrText();
        proxy_ = std::make_unique<RecordingProxy>(sim_.port());
        ASSERT_NE(proxy_->port(), 0);
        ::setenv("PLCTAG_TCP_PORT", std::to_string(proxy_->port()).c_str(), 1);

        owner_ = std::make_unique<QObject>();
        channels_ = std::make_unique<ChannelSet>(
            [](const QString& name, QObject* parent) -> QObject* { return regaccess::createControl(name, parent); },
            owner_.get());
        for (int i = 0; i < ChannelCount; ++i) {
            Channel& c = (*channels_)[ChannelId(i)];
            ASSERT_TRUE(c.missingMembers().isEmpty()) << c.missingMembers().join(' ').toStdString();
            c.setHost(Loopback);
        }
        model_ = std::make_unique<FlashModel>(*channels_, [] { return Loopback; });
        connect(model_->sequence());
    }

    void connect(FlashSequence& sequence)
    {
        QObject::connect(
            &sequence, &FlashSequence::finished, owner_.get(), [this](FlashSequence::Outcome o) { outcome_ = o; });
    }

    QString writeFile(const QString& name, const QByteArray& content)
    {
        const QString path = dir_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    // Intel HEX with extended segment addresses made by srec_cat from
    // `binary` placed at image position 0.
    QString hexFromBinary(const QByteArray& binary)
    {
        const QString bin = writeFile(QStringLiteral("image.bin"), binary);
        const QString hex = dir_.filePath(QStringLiteral("image.hex"));
        QProcess p;
        p.start(QStandardPaths::findExecutable(QStringLiteral("srec_cat")),
            {bin, QStringLiteral("-binary"), QStringLiteral("-o"), hex, QStringLiteral("-intel"),
                QStringLiteral("-address-length=3"), QStringLiteral("-obs=32")});
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << "srec_cat missing or failed: run scripts/setup";
        return hex;
    }

    bool load(const QString& path)
    {
        return model_->loadFile([path] { return path; });
    }

    // Lets the polls run until the sequence ends, at most `timeoutMs`.
    std::optional<FlashSequence::Outcome> runToEnd(int timeoutMs = 20000)
    {
        if (outcome_ || !model_->sequence().running())
            return std::exchange(outcome_, std::nullopt);
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&model_->sequence(), &FlashSequence::finished, &loop, &QEventLoop::quit);
        limit.start(timeoutMs);
        loop.exec();
        return std::exchange(outcome_, std::nullopt);
    }

    // Lets the event loop run for `ms` (polls that should be quiet stay so).
    static void idle(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    int pollInterval(ChannelId id)
    {
        auto* control = qobject_cast<regaccess::Plctag*>((*channels_)[id].control());
        return control ? control->pollInterval() : -1;
    }

    // Requests of modFlash: erase command blocks and the data window.
    std::vector<SeenRequest> flashRequests() const
    {
        std::vector<SeenRequest> out;
        for (SeenRequest& r : proxy_->requests()) {
            if ((r.function == 16 && r.reg == FlashEraseRegister) || (r.reg >= FlashDataRegister && r.reg <= 32765))
                out.push_back(std::move(r));
        }
        return out;
    }

    // Progress pattern writes of modConfigRead: {word 0, word 1} each.
    std::vector<std::vector<std::uint16_t>> progressWrites() const
    {
        std::vector<std::vector<std::uint16_t>> out;
        for (const SeenRequest& r : proxy_->requests()) {
            if (r.function == 16 && r.reg == FlashProgressRegister && r.count == 2)
                out.push_back(r.values);
        }
        return out;
    }

    QStringList statusLines() const { return model_->status().lines(); }

    QTemporaryDir dir_;
    SimProcess sim_;
    std::unique_ptr<RecordingProxy> proxy_;
    std::unique_ptr<QObject> owner_;
    std::unique_ptr<ChannelSet> channels_;
    std::unique_ptr<FlashModel> model_;
    std::optional<FlashSequence::Outcome> outcome_;
};

} // namespace chronel::test
