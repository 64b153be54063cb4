#pragma once

// A private PostgreSQL server for tests (tests/pg-test-server.sh): a cluster in a temporary
// folder listening on a Unix socket only, and plain SQL run on it as another program would.

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <libpq-fe.h>
#include <memory>

namespace lv26::test {

// The private server: started in a temporary folder, kept across stops so it can be started
// again on the same cluster.
class TestServer {
public:
    // Starts it; false with `why` set when PostgreSQL cannot run here (skip) or failed.
    bool start(QString* why, bool* unavailable) {
        if (!dir_) {
            dir_ = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/lv26-pg-XXXXXX"));
            if (!dir_->isValid())
                return fail(why, QStringLiteral("no temporary folder"));
        }
        process_ = std::make_unique<QProcess>();
        process_->setProcessChannelMode(QProcess::SeparateChannels);
        process_->start(QStringLiteral("bash"),
                        {QStringLiteral(LV26_SOURCE_DIR "/tests/pg-test-server.sh"), dir_->path(),
                         QStringLiteral("--keep")});
        QDeadlineTimer deadline(60000);
        while (!process_->canReadLine() && process_->state() != QProcess::NotRunning &&
               !deadline.hasExpired())
            process_->waitForReadyRead(200);
        if (!process_->canReadLine()) {
            process_->waitForFinished(5000);
            *unavailable = process_->exitCode() == 3;
            return fail(why, QString::fromUtf8(process_->readAllStandardError()).trimmed());
        }
        conninfo_ = QString::fromUtf8(process_->readLine()).trimmed();
        return true;
    }
    // Stops it (a fast shutdown: its sessions end), keeping the cluster.
    void stop() {
        if (!process_)
            return;
        process_->terminate();
        process_->waitForFinished(30000);
        process_.reset();
    }
    const QString& conninfo() const { return conninfo_; }
    QString folder() const { return dir_ ? dir_->path() : QString(); }
    ~TestServer() { stop(); }

private:
    static bool fail(QString* why, const QString& text) {
        *why = text;
        return false;
    }
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QProcess> process_;
    QString conninfo_;
};

// The rows of a query's result, each as its values joined by "|" ("<null>" for a null).
inline QStringList resultRows(const PGresult* result) {
    QStringList rows;
    for (int i = 0; i < PQntuples(result); ++i) {
        QStringList row;
        for (int c = 0; c < PQnfields(result); ++c)
            row << (PQgetisnull(result, i, c) ? QStringLiteral("<null>")
                                              : QString::fromUtf8(PQgetvalue(result, i, c)));
        rows << row.join(QLatin1Char('|'));
    }
    return rows;
}

// Plain SQL on the server, as another program (or a person with psql) would run it.
inline QStringList runSql(const QString& conninfo, const QString& sql) {
    PGconn* conn = PQconnectdb(conninfo.toUtf8().constData());
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    QStringList out;
    PGresult* r = PQexec(conn, sql.toUtf8().constData());
    if (PQresultStatus(r) == PGRES_TUPLES_OK)
        out = resultRows(r);
    else if (PQresultStatus(r) != PGRES_COMMAND_OK)
        out << QStringLiteral("ERROR: ") + QString::fromUtf8(PQerrorMessage(conn));
    PQclear(r);
    PQfinish(conn);
    return out;
}

// SQL that removes `tables` (the program's own by default) and the money domain from the
// server's database, saying nothing of those already missing.
inline QString dropTablesSql(const QStringList& tables = {QStringLiteral("func"),
                                                          QStringLiteral("dados")}) {
    return QStringLiteral("SET client_min_messages = warning; DROP TABLE IF EXISTS %1; "
                          "DROP DOMAIN IF EXISTS currency; ")
        .arg(tables.join(QStringLiteral(", ")));
}

// Runs dropTablesSql(`tables`) on the server; its errors, empty when it ran.
inline QStringList dropTables(const QString& conninfo,
                              const QStringList& tables = {QStringLiteral("func"),
                                                           QStringLiteral("dados")}) {
    return runSql(conninfo, dropTablesSql(tables));
}

} // namespace lv26::test

// Starts `server` (a TestServer) from a test function: skips the test where PostgreSQL cannot
// run here, fails it when the server does not start.
#define LV26_START_TEST_SERVER(server)                                                             \
    do {                                                                                           \
        QString why_;                                                                              \
        bool unavailable_ = false;                                                                 \
        if (!(server).start(&why_, &unavailable_)) {                                               \
            if (unavailable_)                                                                      \
                QSKIP(qPrintable(why_));                                                           \
            QFAIL(qPrintable(why_));                                                               \
        }                                                                                          \
    } while (false)
