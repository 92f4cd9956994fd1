#pragma once
// Tells a reader that waits for a journal's next rows when they may have
// come: another program (the collector) or another connection wrote an
// SQLite journal's file, its -wal or its -journal. A reader that polls
// every so often waits for this instead, and reads a commit at once
// rather than up to a poll's period later.
//
// Linux inotify on the journal's folder, not on the files: the -wal file
// comes and goes as connections open and close, the folder stays. Writes
// count, not closes: every reader closes the -wal it had open for writing.
// A PostgreSQL journal, or a folder that cannot be watched (no inotify
// watches left), is not watched: waits then last their whole time, and the
// reader's poll is what finds new rows.
//
// Thread safety: wake() may be called from any thread, wait() from one.
#include <QString>

namespace chronel {

struct JournalLocation;

class JournalChangeWatch {
public:
    enum class Woken {
        Changed, // the journal was written (or the watch lost track: read it)
        Asked,   // wake() was called
        TimedOut,
    };

    explicit JournalChangeWatch(const JournalLocation& location);
    ~JournalChangeWatch();
    JournalChangeWatch(const JournalChangeWatch&) = delete;
    JournalChangeWatch& operator=(const JournalChangeWatch&) = delete;

    // Whether writes to the journal end a wait; why not when not.
    bool watching() const { return watch_ >= 0; }
    QString whyNot() const { return whyNot_; }

    // Waits at most `timeoutMs` for a write to the journal or a wake();
    // writes that came since the last wait end this one at once.
    Woken wait(int timeoutMs);
    // Ends the wait in progress, or the next one, at once.
    void wake();

private:
    // Reads every queued notice; true when one concerns the journal.
    bool drain();

    int inotify_ = -1;
    int watch_ = -1;
    int wakeFd_ = -1; // eventfd
    // The journal's name in the folder; its -wal and -journal files are
    // named after it.
    QString file_;
    QString whyNot_;
};

} // namespace chronel
