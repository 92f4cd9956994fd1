#pragma once
// The sixteen event lines of the SER Data tab (lblEventData(0 … 15), 15 the
// newest) and the event log behind them. Every line the display gets, event
// lines and communication-error lines alike, also goes to the log while
// logging is on (the checked state of Tools > "Log Events").
//
// A write failure while logging stops the logging (the menu entry becomes
// unchecked) and reports it once through logWriteFailed(); the display itself
// keeps working.
#include "event_log.h"

#include <QObject>
#include <QString>
#include <array>

namespace chronel {

class EventDisplay : public QObject {
    Q_OBJECT
public:
    static constexpr int LineCount = 16;
    using Lines = std::array<QString, LineCount>;

    explicit EventDisplay(QObject* parent = nullptr);

    const Lines& lines() const { return lines_; }
    // The oldest line moves out at index 0, `text` becomes line 15.
    void addLine(const QString& text);

    bool logging() const { return log_.isOpen(); }
    QString logPath() const { return log_.path(); }
    // The system's reason when the log could not be opened or written.
    QString logError() const { return log_.errorString(); }
    // The user chose `path` in the file dialog (empty when cancelled). Any
    // open log is closed first; a failure leaves logging off.
    EventLog::OpenResult startLogging(const QString& path);
    void stopLogging();

signals:
    void linesChanged();
    void loggingChanged(bool on);
    void logWriteFailed(const QString& title, const QString& text);

private:
    Lines lines_;
    EventLog log_;
};

} // namespace chronel
