#pragma once

// Fixture helpers for the engine's tests: for each case a storage holding the payroll's
// empty tables, and a second connection to the same tables as another program has one.
//
// A run keeps its tables as files in a fresh temporary folder, or, with
// LV26_TEST_BACKEND=server in the environment, on a private PostgreSQL server started once for
// the process (tests/pg-test-server.sh), its tables dropped and made again for each case, so
// that the same test bodies run on both backends.

#include "TestBackend.h"
#include "data/PayrollSchema.h"
#include "engine/SqliteStorage.h"
#include "engine/Storage.h"
#include "engine/pg/PgStorage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <libpq-fe.h>
#include <memory>
#include <sqlite3.h>

namespace lv26::test {

// A storage over the tables at `location`: a folder of table files, or on a server run the
// server's connection string (for a second process of the same run).
inline std::unique_ptr<engine::storage::Storage> engineStorageAt(const QString& location) {
    if (testingOnServer())
        return std::make_unique<engine::pg::PgStorage>(location);
    return std::make_unique<engine::SqliteStorage>(location);
}

// Locks the current row of `cursor` into `row`, trying again for up to 10 seconds while
// another holder has it: a server drops the locks of a program that died once it sees the
// connection gone, a moment after the death. The code of the last try; 0 when locked.
inline quint16 lockOnceFree(engine::storage::TableCursor& cursor, engine::Row& row) {
    QDeadlineTimer deadline(10000);
    for (;;) {
        try {
            cursor.lockCurrent(row);
            return 0;
        } catch (const EEngineError& e) {
            if (e.code() != engine::codes::RecordLocked || deadline.hasExpired())
                return e.code();
        }
        QThread::msleep(20);
    }
}

// The payroll's empty tables for one case, and the storage that reaches them. Requires
// backendState() Ready (LV26_ENGINE_TABLES checks it).
class EngineTables {
public:
    EngineTables() {
        QVERIFY(dir_.isValid());
        if (testingOnServer()) {
            const QStringList out = dropTables(conninfo(), {"func", "dados", "other"});
            QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
        }
        storage_ = engineStorageAt(location());
        createPayrollTables(*storage_);
    }

    engine::storage::Storage& storage() { return *storage_; }
    // Where a second process finds the same tables (see engineStorageAt()).
    QString location() const { return testingOnServer() ? conninfo() : dir_.path(); }
    // The temporary folder of this case (on a server run it holds no tables).
    QString folder() const { return dir_.path(); }
    QString conninfo() const { return runServer().conninfo(); }
    // The table `tableName` as this storage's messages name it.
    QString shown(const QString& tableName) const {
        return testingOnServer() ? tableName : dir_.filePath(tableName);
    }
    // A name as the backend spells the columns and indexes of the payroll's tables: as
    // written in the files, in lower case on the server.
    static QString spelled(const QString& name) {
        return testingOnServer() ? name.toLower() : name;
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<engine::storage::Storage> storage_;
};

// Another program's own connection to the table `tableName` at `location`, through the
// database library rather than the engine: plain SQL, each statement committed at once.
class OtherConnection {
public:
    OtherConnection(const QString& location, const QString& tableName) {
        if (testingOnServer()) {
            pg_ = PQconnectdb(location.toUtf8().constData());
            PQsetNoticeProcessor(
                pg_, [](void*, const char*) {}, nullptr);
        } else {
            const QByteArray path = QFile::encodeName(QDir(location).filePath(tableName));
            sqlite3_open(path.constData(), &sqlite_);
            sqlite3_busy_timeout(sqlite_, 5000);
        }
    }
    ~OtherConnection() {
        if (pg_)
            PQfinish(pg_);
        if (sqlite_)
            sqlite3_close(sqlite_);
    }
    OtherConnection(const OtherConnection&) = delete;
    OtherConnection& operator=(const OtherConnection&) = delete;

    // Runs `sql` (one or more statements); the database's error text, or empty when it ran.
    QString exec(const QString& sql) {
        QString error;
        query(sql, &error);
        return error;
    }
    // The rows `sql` reads, each as its values joined by "|" ("<null>" for a null).
    QStringList query(const QString& sql, QString* error = nullptr) {
        QStringList rows;
        QString failure = pg_ ? queryServer(sql, rows) : queryFile(sql, rows);
        if (error)
            *error = failure;
        else if (!failure.isEmpty())
            qWarning("%s: %s", qPrintable(sql), qPrintable(failure));
        return rows;
    }

private:
    QString queryServer(const QString& sql, QStringList& rows) {
        PGresult* r = PQexec(pg_, sql.toUtf8().constData());
        QString error;
        if (PQresultStatus(r) == PGRES_TUPLES_OK)
            rows << resultRows(r);
        else if (PQresultStatus(r) != PGRES_COMMAND_OK)
            error = QString::fromUtf8(PQerrorMessage(pg_)).trimmed();
        PQclear(r);
        return error;
    }
    QString queryFile(const QString& sql, QStringList& rows) {
        char* message = nullptr;
        const auto collect = [](void* out, int n, char** values, char**) {
            QStringList row;
            for (int c = 0; c < n; ++c)
                row << (values[c] ? QString::fromUtf8(values[c]) : QStringLiteral("<null>"));
            *static_cast<QStringList*>(out) << row.join(QLatin1Char('|'));
            return 0;
        };
        const int rc = sqlite3_exec(sqlite_, sql.toUtf8().constData(), collect, &rows, &message);
        QString error = rc == SQLITE_OK ? QString()
                                        : (message ? QString::fromUtf8(message)
                                                   : QString::fromUtf8(sqlite3_errmsg(sqlite_)));
        sqlite3_free(message);
        return error;
    }

    PGconn* pg_ = nullptr;
    sqlite3* sqlite_ = nullptr;
};

} // namespace lv26::test

// Makes `target` a new EngineTables, or skips or fails the case when the run's backend cannot
// hold tables.
#define LV26_ENGINE_TABLES(target) LV26_MAKE_WITH_BACKEND(target, ::lv26::test::EngineTables)
