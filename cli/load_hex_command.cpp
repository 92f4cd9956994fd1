// load-hex FILE: Load File, offline.
#include "command.h"
#include "console.h"
#include "hex_load.h"

#include <memory>

namespace chronelcli {

namespace {

class LoadHexCommand : public Command {
public:
    QString parseArguments(const QStringList& args) override
    {
        const QString error = ExpectOperands(args, 1, QStringLiteral("FILE"));
        if (error.isEmpty())
            path_ = args[0];
        return error;
    }

    bool needsModule() const override { return false; }

    ExitStatus runOffline(const CommandContext& context) override
    {
        auto image = std::make_unique<chronel::FlashImage>();
        chronel::FlashStatus status;
        PrintFlashStatus(status, context.console);
        return LoadHex(path_, *image, status, context.console) ? ExitStatus::Done : ExitStatus::BadUsage;
    }

    ExitStatus runModule(ModuleSession&, const CommandContext& context) override { return runOffline(context); }

private:
    QString path_;
};

} // namespace

std::unique_ptr<Command> CreateLoadHexCommand() { return std::make_unique<LoadHexCommand>(); }

} // namespace chronelcli
