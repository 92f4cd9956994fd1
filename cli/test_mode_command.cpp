// test-mode on | off | send POINTS: the test-mode window's buttons.
//
// The window fires its test-mode writes and forgets them; a script needs to
// know, so the write's completion is awaited and a failure ends the command
// with exit status 1. After "on" and "off" the mode is read back from the
// statistics block as the window's buttons would follow it.
#include "block_read.h"
#include "command.h"
#include "command_loop.h"
#include "console.h"
#include "core/events/event_scan.h"
#include "core/live/test_mode.h"
#include "core/model/module_map.h"
#include "module_session.h"
#include "status_report.h"

namespace chronelcli {

namespace {

enum class Action { On, Off, Send };

class TestModeCommand : public Command {
public:
    QString parseArguments(const QStringList& args) override
    {
        if (args.isEmpty())
            return QStringLiteral("missing on, off or send");
        const QString& word = args[0];
        if (word == QLatin1String("on") || word == QLatin1String("off")) {
            action_ = word == QLatin1String("on") ? Action::On : Action::Off;
            return ExpectOperands(args.mid(1), 0, QString());
        }
        if (word != QLatin1String("send"))
            return QStringLiteral("unexpected %1 (on, off or send)").arg(word);
        action_ = Action::Send;
        if (args.size() != 2)
            return args.size() < 2 ? QStringLiteral("missing POINTS") : QStringLiteral("unexpected %1").arg(args[2]);
        return parsePoints(args[1]);
    }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        Console& console = context.console;
        chronel::Channel& channel = session.createChannel(QStringLiteral("modTestMode"));
        chronel::TestModeCommands commands(channel, [&session] { return session.address(); });

        CommandLoop loop;
        platform::ErrorCode failure = platform::ErrorCode::NoError;
        QObject::connect(&channel, &chronel::Channel::OnWriteDone, &channel, [&] { loop.finish(ExitStatus::Done); });
        QObject::connect(&channel, &chronel::Channel::OnErrorEvent, &channel, [&](platform::ErrorCode code) {
            failure = code;
            loop.finish(ExitStatus::ModuleFailed);
        });
        switch (action_) {
        case Action::On: commands.test(); break;
        case Action::Off: commands.normal(); break;
        case Action::Send: commands.send(boxes_); break;
        }
        const ExitStatus written = loop.run();
        if (written != ExitStatus::Done) {
            console.error(ReadFailureText({false, {}, failure}, session.moduleName()));
            return written;
        }

        if (action_ == Action::Send) {
            console.line(LabelledLine(QStringLiteral("Test Inputs Sent"), pointList()));
            return ExitStatus::Done;
        }
        const BlockRead read =
            ReadBlock(session.channels().modEventScan(), session.address(), chronel::StatisticsBlockRegister,
                chronel::StatisticsBlockWordCount, context.intervalMs.value_or(chronel::EventScanStartInterval));
        if (!read.ok) {
            console.error(ReadFailureText(read, session.moduleName()));
            return ExitStatus::ModuleFailed;
        }
        chronel::StatisticsDisplay stats;
        chronel::ApplyStatisticsBlock(read.words, stats);
        console.line(LabelledLine(QStringLiteral("Test Mode"), TestModeText(stats)));
        const bool wanted = action_ == Action::On;
        if (stats.testModeOn != wanted) {
            console.error(QStringLiteral("The module did not take the test mode"));
            return ExitStatus::ModuleFailed;
        }
        return ExitStatus::Done;
    }

private:
    QString parsePoints(const QString& text)
    {
        boxes_.fill(false);
        if (text.trimmed().isEmpty())
            return {};
        for (const QString& field : text.split(QLatin1Char(','))) {
            bool ok = false;
            const int point = field.trimmed().toInt(&ok);
            if (!ok || point < 1 || point > chronel::TestInputCount)
                return QStringLiteral("POINTS: %1 is no point number 1 ... 32").arg(field);
            boxes_[std::size_t(point - 1)] = true;
        }
        return {};
    }

    QString pointList() const
    {
        QStringList points;
        for (int i = 0; i < chronel::TestInputCount; ++i)
            if (boxes_[std::size_t(i)])
                points << QString::number(i + 1);
        return points.isEmpty() ? QStringLiteral("none") : points.join(QLatin1Char(','));
    }

    Action action_ = Action::On;
    chronel::TestInputs boxes_{};
};

} // namespace

std::unique_ptr<Command> CreateTestModeCommand() { return std::make_unique<TestModeCommand>(); }

} // namespace chronelcli
