// The chronel-web program: the user command on a journal file (password on
// standard input, as from a script), and the settings it refuses before it
// listens anywhere.
#include "web/password_hash.h"
#include "web/user_command.h"
#include "web_test.h"

#include "journal/journal_audit.h"
#include "journal/journal_store.h"
#include "journal/web_accounts.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QDeadlineTimer>

#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace chronel;

namespace {

JournalLocation SqliteAt(const QString& path)
{
    JournalLocation location;
    location.path = path;
    return location;
}

struct ProgramRun {
    int status = -1;
    QString out, err;
};

ProgramRun Program(const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.start(QStringLiteral(CHRONEL_WEB_PROGRAM), arguments);
    if (!process.waitForStarted(10000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return ProgramRun{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromLocal8Bit(process.readAllStandardOutput()),
        QString::fromLocal8Bit(process.readAllStandardError())};
}

// Runs the program on a pseudo-terminal, answering each prompt in turn;
// the exit status and everything the terminal showed.
ProgramRun OnTerminal(const QStringList& arguments, const QList<QPair<QByteArray, QByteArray>>& answers)
{
    QList<QByteArray> argv{QByteArrayLiteral(CHRONEL_WEB_PROGRAM)};
    for (const QString& argument : arguments)
        argv.append(argument.toLocal8Bit());
    std::vector<char*> pointers;
    for (QByteArray& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    ProgramRun run;
    if (child < 0)
        return run;
    QByteArray shown;
    qsizetype answered = 0;
    QDeadlineTimer deadline(30000);
    for (;;) {
        if (answered < answers.size() && shown.contains(answers[answered].first)) {
            const QByteArray& reply = answers[answered].second;
            if (::write(master, reply.constData(), std::size_t(reply.size())) != reply.size())
                break;
            shown.append("<typed>");
            ++answered;
            continue;
        }
        pollfd ready{master, POLLIN, 0};
        if (deadline.hasExpired() || ::poll(&ready, 1, 100) < 0)
            break;
        if (ready.revents & POLLIN) {
            char buffer[512];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break; // the program ended: EIO once the child's side is closed
            shown.append(buffer, n);
        } else if (ready.revents & (POLLHUP | POLLERR)) {
            break;
        }
    }
    int status = 0;
    if (deadline.hasExpired())
        ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    ::close(master);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = QString::fromLocal8Bit(shown);
    return run;
}

class WebUserCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        journal_ = dir_.filePath(QStringLiteral("journal.sqlite"));
        JournalStore store;
        QString error;
        ASSERT_TRUE(store.open(SqliteAt(journal_), &error)) << error;
    }

    ProgramRun user(const QStringList& arguments, const QByteArray& input = {})
    {
        return Program(
            QStringList{QStringLiteral("user")} + arguments + QStringList{QStringLiteral("--journal"), journal_},
            input);
    }

    std::optional<WebAccount> account(const QString& name)
    {
        JournalStore store;
        QString error;
        EXPECT_TRUE(store.openReadOnly(SqliteAt(journal_), &error)) << error;
        return FindWebAccount(store, name, &error).value_or(std::nullopt);
    }

    QTemporaryDir dir_;
    QString journal_;
};

} // namespace

TEST_F(WebUserCommand, AddListPasswdDel)
{
    const ProgramRun added =
        user({QStringLiteral("add"), QStringLiteral("ann"), QStringLiteral("--role"), QStringLiteral("engineer")},
            "first-password\n");
    ASSERT_EQ(added.status, 0) << added.err;
    std::optional<WebAccount> ann = account(QStringLiteral("ann"));
    ASSERT_TRUE(ann);
    EXPECT_EQ(ann->role, WebRole::Engineer);
    EXPECT_TRUE(VerifyPassword(ann->hash, "first-password"));

    const ProgramRun again = user({QStringLiteral("add"), QStringLiteral("ann")}, "first-password\n");
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("exists already"))) << again.err;

    const ProgramRun list = user({QStringLiteral("list")});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(list.out.contains(QRegularExpression(QStringLiteral("\\nann +engineer +\\d{4}-"))));
    EXPECT_FALSE(list.out.contains(QStringLiteral("argon2"))) << "no hash shown";

    const ProgramRun passwd = user({QStringLiteral("passwd"), QStringLiteral("ann")}, "second-password\n");
    ASSERT_EQ(passwd.status, 0) << passwd.err;
    ann = account(QStringLiteral("ann"));
    ASSERT_TRUE(ann);
    EXPECT_TRUE(VerifyPassword(ann->hash, "second-password"));
    EXPECT_FALSE(VerifyPassword(ann->hash, "first-password"));

    const ProgramRun removed = user({QStringLiteral("del"), QStringLiteral("ann")});
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_FALSE(account(QStringLiteral("ann")));
    EXPECT_EQ(user({QStringLiteral("del"), QStringLiteral("ann")}).status, 1);
    EXPECT_EQ(user({QStringLiteral("passwd"), QStringLiteral("ann")}, "third-password\n").status, 1);

    JournalStore store;
    QString error;
    ASSERT_TRUE(store.openReadOnly(SqliteAt(journal_), &error)) << error;
    QStringList audited;
    for (const AuditEntry& entry : AuditRows(store, &error).value_or(QList<AuditEntry>())) {
        audited.append(entry.who + u' ' + entry.actionText);
        EXPECT_FALSE(entry.before.contains(QStringLiteral("argon2")) || entry.after.contains(QStringLiteral("argon2")));
    }
    const QString who = CommandLineAuditor();
    EXPECT_TRUE(who.startsWith(QStringLiteral("cli:")));
    EXPECT_EQ(audited,
        (QStringList{who + u' ' + AuditActionText(AuditAction::AccountAdded),
            who + u' ' + AuditActionText(AuditAction::AccountPasswordChanged),
            who + u' ' + AuditActionText(AuditAction::AccountRemoved)}));
}

TEST_F(WebUserCommand, TerminalPasswordIsAskedTwiceWithoutEcho)
{
    const QStringList add{
        QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("tom"), QStringLiteral("--journal"), journal_};
    const ProgramRun differ =
        OnTerminal(add, {{"Password for tom: ", "first-words-1\n"}, {"Once more: ", "other-words-2\n"}});
    EXPECT_EQ(differ.status, 1) << differ.out;
    EXPECT_TRUE(differ.out.contains(QStringLiteral("the two passwords differ"))) << differ.out;
    EXPECT_FALSE(account(QStringLiteral("tom")));

    const ProgramRun added =
        OnTerminal(add, {{"Password for tom: ", "typed-words-3\n"}, {"Once more: ", "typed-words-3\n"}});
    EXPECT_EQ(added.status, 0) << added.out;
    EXPECT_FALSE(added.out.contains(QStringLiteral("typed-words"))) << "echoed: " << added.out;
    const std::optional<WebAccount> tom = account(QStringLiteral("tom"));
    ASSERT_TRUE(tom);
    EXPECT_TRUE(VerifyPassword(tom->hash, "typed-words-3"));
}

TEST_F(WebUserCommand, RefusesWhatItCannotDoRight)
{
    const QString missing = dir_.filePath(QStringLiteral("none.sqlite"));
    const ProgramRun noJournal = Program(
        {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("ann"), QStringLiteral("--journal"), missing},
        "some-password\n");
    EXPECT_EQ(noJournal.status, 1);
    EXPECT_TRUE(noJournal.err.contains(QStringLiteral("does not exist"))) << noJournal.err;
    EXPECT_FALSE(QFileInfo::exists(missing)) << "no journal made";

    const ProgramRun shortPassword = user({QStringLiteral("add"), QStringLiteral("bob")}, "short\n");
    EXPECT_EQ(shortPassword.status, 1);
    EXPECT_TRUE(shortPassword.err.contains(QStringLiteral("8 to 1024"))) << shortPassword.err;
    const ProgramRun noPassword = user({QStringLiteral("add"), QStringLiteral("bob")}, "");
    EXPECT_EQ(noPassword.status, 1);
    EXPECT_FALSE(account(QStringLiteral("bob")));

    EXPECT_EQ(user({QStringLiteral("add"), QStringLiteral("bad name")}, "some-password\n").status, 2);
    EXPECT_EQ(user({QStringLiteral("add"), QStringLiteral("bob"), QStringLiteral("--role"), QStringLiteral("root")},
                  "some-password\n")
                  .status,
        2);
    EXPECT_EQ(user({QStringLiteral("rename"), QStringLiteral("bob")}).status, 2);
}

TEST(WebProgram, PlainHttpRefusedOffLoopback)
{
    QTemporaryDir dir;
    // Refused from the settings alone: nothing is opened or bound.
    const ProgramRun run = Program({QStringLiteral("--config"), dir.filePath(QStringLiteral("none.conf")),
        QStringLiteral("--listen"), QStringLiteral("0.0.0.0:8443"), QStringLiteral("--plain")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("settings file"))) << run.err;

    QFile conf(dir.filePath(QStringLiteral("web.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[web]\nlisten=192.0.2.1:8080\nplain=true\n");
    conf.close();
    const ProgramRun fromFile = Program({QStringLiteral("--config"), conf.fileName()});
    EXPECT_EQ(fromFile.status, 2);
    EXPECT_TRUE(fromFile.err.contains(QStringLiteral("plain HTTP is refused on 192.0.2.1"))) << fromFile.err;
}
