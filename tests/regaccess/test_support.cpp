#include "test_support.h"

#include <QFile>

#include <cstdlib>
#include <memory>

namespace regaccess::test {

void InstallAdapterFile()
{
    static std::unique_ptr<QTemporaryDir> dir;
    if (dir)
        return;
    dir = std::make_unique<QTemporaryDir>();
    const QString path = dir->filePath(QStringLiteral("PLCDRV.INI"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write("; adapters of the control's tests\n"
               "[Adapter.Object.1]\nType=2\nEnabled=0\n"
               "[Adapter.Object.2]\nType=2\nEnabled=1\n"
               "[Adapter.Object.3]\nType=0\nEnabled=0\n");
    file.close();
    ::setenv("PLCDRV_INI", QFile::encodeName(path).constData(), 1);
}

void UseServerPort(std::uint16_t port) { ::setenv("PLCTAG_TCP_PORT", std::to_string(port).c_str(), 1); }

EventRecorder::EventRecorder(Plctag& control)
{
    auto busy = [&control] { return control.Busy() ? QStringLiteral(" (busy)") : QString(); };
    QObject::connect(
        &control, &Plctag::OnReadDone, &control, [this, busy] { events << QStringLiteral("read") + busy(); });
    QObject::connect(
        &control, &Plctag::OnWriteDone, &control, [this, busy] { events << QStringLiteral("write") + busy(); });
    QObject::connect(&control, &Plctag::OnErrorEvent, &control,
        [this, busy](int code) { events << QStringLiteral("error %1").arg(code) + busy(); });
}

} // namespace regaccess::test
