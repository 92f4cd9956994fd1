// load-hex FILE: Load File, offline.
#include "command.h"
#include "console.h"
#include "hex_load.h"

#include <memory>

namespace chronelcli {

namespace {

class LoadHexCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Load an Intel-HEX file offline");
        declared.about = QStringLiteral("Loads FILE into a flash image as Load File does and prints the loader's\n"
                                        "status lines. Nothing is sent; no --ip is needed. Exit status 2 when the\n"
                                        "file cannot be read or has a bad line.\n");
        declared.words.add({.name = QStringLiteral("FILE"),
            .completion = chronel::Completion::Files,
            .take = chronel::OptionTable::keep(path_)});
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
