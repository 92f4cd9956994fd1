// Reads holding registers through an embedded PLCTAG control, the way a host
// program uses the installed library:
//
//   chronel-host-read HOST FIRST COUNT
//
// prints the registers FIRST … FIRST+COUNT-1 (1-based register numbers) as
// unsigned decimals on one line, or "error N" with the control's error code.
// The control is created by its class name, as hosts create it.
#include <regaccess/control_factory.h>
#include <regaccess/plctag.h>

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: chronel-host-read HOST FIRST COUNT\n");
        return 2;
    }
    const int first = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    if (first < 1 || count < 1 || count > 125) {
        std::fprintf(stderr, "chronel-host-read: FIRST from 1, COUNT 1 to 125\n");
        return 2;
    }

    regaccess::Plctag* tag = regaccess::createControl(QStringLiteral("PLCTAGLib.Plctag"), &app);
    if (!tag) {
        std::fprintf(stderr, "chronel-host-read: no control of class PLCTAGLib.Plctag\n");
        return 1;
    }
    tag->setHost(QString::fromLocal8Bit(argv[1]));
    tag->setAdapter(0);
    tag->setRegType(regaccess::Plctag::HoldRegs_4xxxx);
    tag->setFunction(regaccess::Plctag::ReadRegs);
    tag->setAddress(first);
    tag->setSize(count);
    tag->setRoutePath(QStringLiteral("255.0.0.0.0"));

    int status = -1;
    QObject::connect(tag, &regaccess::Plctag::OnReadDone, &app, [&] {
        for (int i = 0; i < count; ++i)
            std::printf("%s%u", i ? " " : "", unsigned(tag->WordVal(i)) & 0xffffu);
        std::printf("\n");
        status = 0;
        app.quit();
    });
    QObject::connect(tag, &regaccess::Plctag::OnErrorEvent, &app, [&](int code) {
        std::printf("error %d\n", code);
        status = 1;
        app.quit();
    });

    // Modbus TCP completes inside Trigger(); a driver adapter completes
    // later, through the event loop. A refused request has fired its error
    // event already.
    const bool sent = tag->Trigger();
    if (status < 0 && !sent) {
        std::printf("error %d\n", tag->ErrorCode());
        status = 1;
    }
    if (status < 0) {
        QTimer::singleShot(10000, &app, [&] {
            std::fprintf(stderr, "chronel-host-read: no completion within 10 s\n");
            app.quit();
        });
        app.exec();
    }
    std::fflush(stdout);
    return status < 0 ? 1 : status;
}
