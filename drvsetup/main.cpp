// DRVSETUP: edits the adapters of PLCDRV.INI.
#include "drvsetup/program_info.h"
#include "drvsetup/setup_window.h"
#include "platform/profile.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(drvsetup::ProgramTitle());
    QApplication::setApplicationVersion(drvsetup::ProgramVersion());

    // Only --help and --version: the file to edit is found as the driver
    // finds it (PLCDRV_INI, then the XDG configuration directories).
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Edits the adapters of PLCDRV.INI.\n"
                                                    "Reads %1\nwrites %2")
                                         .arg(platform::PlcdrvIniReadPath(), platform::PlcdrvIniWritePath()));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    drvsetup::SetupWindow window(platform::PlcdrvIniReadPath(), platform::PlcdrvIniWritePath());
    window.show();
    return app.exec();
}
