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
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Switch test mode, or send test inputs");
        declared.words.add({.name = QStringLiteral("ACTION"),
            .extraRows = {{QStringLiteral("on"), QStringLiteral("\"Test\": writes 0x55AA to register 1577.")},
                {QStringLiteral("off"), QStringLiteral("\"Normal\": writes 0 to register 1577.")},
                {QStringLiteral("send POINTS"),
                    QStringLiteral("\"Send\": sets the comma-separated points (1 ... 32) and\n"
                                   "clears the others (registers 1578, 1579). An empty list\n"
                                   "(\"\") clears all.")}},
            .usage = QStringLiteral("on | off | send"),
            .missing = QStringLiteral("missing on, off or send"),
            .completion = chronel::Completion::Words,
            .words = {QStringLiteral("on"), QStringLiteral("off"), QStringLiteral("send")},
            .take = [this](const QString& word) {
                if (word == QLatin1String("on"))
                    action_ = Action::On;
                else if (word == QLatin1String("off"))
                    action_ = Action::Off;
                else if (word == QLatin1String("send"))
                    action_ = Action::Send;
                else
                    return QStringLiteral("unexpected %1 (on, off or send)").arg(word);
                return QString();
            }});
        declared.words.add({.name = QStringLiteral("POINTS"),
            .usage = QStringLiteral("POINTS"), // only after send
            .optional = true,
            .take = [this](const QString& points) {
                if (action_ != Action::Send)
                    return QStringLiteral("unexpected %1").arg(points);
                pointsGiven_ = true;
                return parsePoints(points);
            }});
        declared.words.check(
            [this] { return action_ == Action::Send && !pointsGiven_ ? QStringLiteral("missing POINTS") : QString(); });
        declared.notes = QStringLiteral("The mode read back from the module is printed after on and off. A write\n"
                                        "that fails ends with its communication error and exit status 1.\n");
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
    bool pointsGiven_ = false;
    chronel::TestInputs boxes_{};
};

} // namespace

std::unique_ptr<Command> CreateTestModeCommand() { return std::make_unique<TestModeCommand>(); }

} // namespace chronelcli
