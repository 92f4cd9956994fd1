#pragma once
// Which PLCDRV.INI this run uses. The transport is chosen as in the window:
// adapter 0 (section "Adapter.Object.1") of PLCDRV.INI decides between the
// control's own Modbus TCP client and a driver adapter.
//
//   (neither)    the PLCDRV.INI the window would read (PLCDRV_INI, else the
//                configuration directories)
//   --ini FILE   FILE, for this run only
//   --tcp        a temporary PLCDRV.INI whose adapter 1 is a TCP/IP adapter
//                served by the control, removed when the run ends
//
// The choice is made through PLCDRV_INI before the first control is
// created: the driver reads the file once when it starts.
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace chronelcli {

class TransportSetup {
public:
    // Applies the choice; false with `error` set when --ini names no
    // readable file or the temporary file cannot be written.
    bool apply(bool tcp, const QString& iniPath, QString* error);
    // The file in use (empty when PLCDRV_INI was left as it was).
    QString iniPath() const { return iniPath_; }

    // The PLCDRV.INI text --tcp writes: adapter 1 a TCP/IP adapter that the
    // driver leaves to the control, and no start-up window.
    static QByteArray TcpIniText();

private:
    std::unique_ptr<QTemporaryDir> tempDir_;
    QString iniPath_;
};

} // namespace chronelcli
