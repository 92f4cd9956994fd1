#pragma once
// The eight logical adapters as DRVSETUP edits them: one record per section
// "Adapter.Object.n" of PLCDRV.INI (record i is section i + 1), with the
// editor's defaults for missing keys. Holds no widgets, so the window and the
// tests share the same reading, writing and conflict rules.
#include "platform/plcdrv_ini.h"

#include <QString>

#include <array>

namespace drvsetup {

constexpr int kAdapterCount = platform::plcdrvini::AdapterCount;

// Type of PLCDRV.INI, by the names the editor gives its choices.
enum DeviceType : int {
    SerialDevice = platform::plcdrvini::SerialAdapter,
    MbxDevice = platform::plcdrvini::ModbusPlusAdapter,
    TcpIpDevice = platform::plcdrvini::TcpIpAdapter,
};

struct AdapterRecord {
    int enabled = 0;               // Enabled
    int deviceType = SerialDevice; // Type
    int comIndex = 1;              // "COM:", COM number minus one
    int protocol = 0;              // LinkProtocol: 0 RTU, 1 ASCII
    QString cardName;              // MBXDeviceName
    int cardNumber = 0;            // MBXDeviceNumber
    int linkSpeed = 0;             // LinkSpeed: 0 = 1200 ... 7 = 115200
    int parity = 0;                // LinkParity: 0 none, 1 odd, 2 even
    int dataBits = 0;              // LinkDataBits: 0 = 7, 1 = 8
    int stopBits = 0;              // LinkStopBits: 0 = 1, 1 = 2
    int slaveId = 0;               // NodeID: 0 none, 1..247

    friend bool operator==(const AdapterRecord&, const AdapterRecord&) = default;
};

class AdapterTable {
public:
    static QString sectionName(int index);

    AdapterRecord& record(int index) { return records_.at(static_cast<std::size_t>(index)); }
    const AdapterRecord& record(int index) const { return records_.at(static_cast<std::size_t>(index)); }

    // Set by Apply; only then does closing offer to save.
    bool changesApplied() const { return changesApplied_; }
    void setChangesApplied(bool applied) { changesApplied_ = applied; }

    // Reads all eight sections from `iniPath`. A missing file, section or key
    // (or an empty value) gives the editor's default; a numeric value is read
    // as the driver reads it, by its leading number ("1 ;modem" is 1, text
    // that does not start with a number is 0), so the editor shows what the
    // driver will use and a save does not change it.
    void readAll(const QString& iniPath);

    // Writes the eleven keys of all eight records, every other line of the
    // file kept; a key that already reads as the record's value is left as
    // it is. The file written is `targetPath`; its other lines come from
    // `targetPath` when it exists, else from `sourcePath` (the file read at
    // start, e.g. a system-wide one), so that sections such as "GENERAL" and
    // "Ports" survive the first save into the user's own file. The new file
    // replaces the old one in one step: a failed save leaves the old file as
    // it was. Returns false when the file could not be written.
    bool writeAll(const QString& sourcePath, const QString& targetPath) const;

    // The first enabled adapter, -1 when none is.
    int firstEnabled() const;

    // Another adapter (not `selected`) that is enabled, a serial port and on
    // COM index `comIndex`; -1 when there is none. The lowest such index.
    int comPortConflict(int selected, int comIndex) const;

private:
    std::array<AdapterRecord, kAdapterCount> records_{};
    bool changesApplied_ = false;
};

} // namespace drvsetup
