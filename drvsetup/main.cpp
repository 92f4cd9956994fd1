// DRVSETUP: edits the adapters of PLCDRV.INI.
#include "drvsetup/program_info.h"
#include "drvsetup/setup_window.h"
#include "platform/profile.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(drvsetup::programTitle());
    QApplication::setApplicationVersion(drvsetup::programVersion());

    drvsetup::SetupWindow window(platform::plcdrvIniReadPath(), platform::plcdrvIniWritePath());
    window.show();
    return app.exec();
}
