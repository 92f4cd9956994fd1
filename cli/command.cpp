// The commands of the tool, by name; each declares the rest itself.
#include "command.h"

namespace chronelcli {

const QList<CommandInfo>& Commands()
{
    static const QList<CommandInfo> commands = {
        {QStringLiteral("upload"), CreateUploadCommand},
        {QStringLiteral("download"), CreateDownloadCommand},
        {QStringLiteral("events"), CreateEventsCommand},
        {QStringLiteral("status"), CreateStatusCommand},
        {QStringLiteral("set-time"), CreateSetTimeCommand},
        {QStringLiteral("stats"), CreateStatsCommand},
        {QStringLiteral("test-mode"), CreateTestModeCommand},
        {QStringLiteral("load-hex"), CreateLoadHexCommand},
        {QStringLiteral("flash"), CreateFlashCommand},
        {QStringLiteral("collect"), CreateCollectCommand},
        {QStringLiteral("journal"), CreateJournalCommand},
        {QStringLiteral("clocks"), CreateClocksCommand},
    };
    return commands;
}

const CommandInfo* FindCommand(const QString& name)
{
    for (const CommandInfo& c : Commands())
        if (c.name == name)
            return &c;
    return nullptr;
}

CommandDeclaration Command::declaration()
{
    CommandDeclaration declared;
    describe(declared);
    declared.words.add({.name = QStringLiteral("--help"),
        .alias = QStringLiteral("-h"),
        .stops = true,
        .inUsage = false,
        .take = chronel::OptionTable::flag(helpAsked_)});
    return declared;
}

QString Command::parseArguments(const QStringList& args) { return declaration().words.parse(args); }

} // namespace chronelcli
