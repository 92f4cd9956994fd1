#pragma once
// The zone a module's clock runs on, as the site declares it, and the UTC
// time of a module time in it. A module stamps its events with its own wall
// clock (GPS or IRIG-B time plus its configured offset and daylight-saving
// rule); only a declared zone lets the journal put events of several modules
// on one time line. Nothing is assumed where none is declared.
//
//   Europe/Berlin   a zone of the system's time-zone database
//   UTC             (also Z)
//   +05:30          a fixed offset from UTC: +HH:MM, -HH:MM, +HHMM or +HH
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace chronel {

// How a module time met its zone.
enum class ZoneFit {
    Exact,     // one UTC time
    ByDstFlag, // the hour a fall-back repeats; the record's daylight-saving flag chose
    Repeated,  // the hour a fall-back repeats, and nothing says which: no UTC time
    Skipped,   // the hour a spring-forward skips: no such time, no UTC time
};

struct ZonedTime {
    QDateTime utc; // invalid unless Exact or ByDstFlag
    ZoneFit fit = ZoneFit::Exact;
};

class ModuleZone {
public:
    // The zone `text` declares, or nothing with `error` saying why.
    static std::optional<ModuleZone> parse(const QString& text, QString* error);

    // As stored with each row: the zone's name, "UTC", or "+05:30".
    const QString& text() const { return text_; }

    // The UTC time of `moduleTime`, a wall-clock time in this zone (its own
    // zone, UTC by convention, is ignored). `dst` is the daylight-saving flag
    // the module sent with it, when it sent one: it picks the first (flag
    // set) or the second pass of a repeated hour.
    ZonedTime toUtc(const QDateTime& moduleTime, std::optional<bool> dst) const;

    // The module's wall-clock time at `utc`, with Qt::UTC as its zone as
    // module times are held.
    QDateTime wallTime(const QDateTime& utc) const;

private:
    ModuleZone(QTimeZone zone, QString text) : zone_(std::move(zone)), text_(std::move(text)) { }

    QTimeZone zone_;
    QString text_;
};

// The words a row's time carries when its zone could not place it, for
// marks: "repeated hour", "skipped hour"; empty otherwise.
QString ZoneFitText(ZoneFit fit);

} // namespace chronel
