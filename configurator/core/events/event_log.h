#pragma once
// The SER event log: a plain text file to which every event line is appended
// while "Log Events" is checked. Lines are written in the 8-bit character set
// (Latin-1; characters outside it become '?'), each ended by CR LF, and
// flushed at once so that a line shown is a line on disk and a full disk or a
// vanished file is noticed at the line that failed. Control characters in a
// line are written as \xHH, so a text cannot end a line early or forge one;
// a symbolic link at the log's name is not followed.
#include <QFile>
#include <QString>

namespace chronel {

inline QString LogEventsTitle() { return QStringLiteral("Log Events"); }
inline QString LogEventsOpenErrorText() { return QStringLiteral("Log Events File Open Error"); }
inline QString LogEventsWriteErrorText() { return QStringLiteral("Log Events File Write Error"); }
// The file dialog's filters; the second is preselected.
inline QString LogEventsAllFilesFilter() { return QStringLiteral("All Files (*.*)"); }
inline QString LogEventsTextFilesFilter() { return QStringLiteral("Text Files (*.txt)"); }

class EventLog {
public:
    enum class OpenResult { Opened, Cancelled, Failed };

    EventLog() = default;
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Closes the current file, then opens `path` for appending (created when
    // missing, existing content kept). An empty path is a cancelled dialog.
    OpenResult open(const QString& path);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }

    // Appends `line` and CR LF. On a failed or short write the file is closed
    // and false returned; nothing is written while no file is open (false).
    bool append(const QString& line);
    // The system's reason for the last failed open or write.
    QString errorString() const { return error_; }

private:
    QFile file_;
    QString error_;
};

} // namespace chronel
