#pragma once
// The journal's two kinds as a test parameter: a fresh SQLite file in a
// temporary folder, or a fresh database on a private PostgreSQL server that
// the test program starts on first use and stops at its end.
#include "journal/journal_location.h"
#include "journal/journal_schema.h"

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <ostream>

// Error texts in failure messages (found by argument-dependent lookup, so
// beside QString in the global namespace).
inline std::ostream& operator<<(std::ostream& os, const QString& text) { return os << text.toStdString(); }

namespace chronel::test {

enum class Backend { Sqlite, Postgres };

inline void PrintTo(Backend backend, std::ostream* os) { *os << (backend == Backend::Sqlite ? "sqlite" : "postgres"); }

class JournalBackend : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    void TearDown() override;
    static void TearDownTestSuite();

    JournalDialect dialect() const
    {
        return GetParam() == Backend::Sqlite ? JournalDialect::Sqlite : JournalDialect::Postgres;
    }
    // A connection of the test's own to the journal, beside the stores, for
    // what no store does (old schemas, triggers, dropped tables).
    QSqlDatabase raw();
    // Runs `sql` on raw(); fails the test when it fails.
    void exec(const QString& sql);

    JournalLocation location_;

private:
    QTemporaryDir dir_;
    QString rawName_;
};

} // namespace chronel::test
