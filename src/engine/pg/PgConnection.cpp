#include "engine/pg/PgConnection.h"

#include "engine/Storage.h"

#include <libpq-fe.h>

namespace lv26::engine::pg {

void raise(quint16 code, const QStringList& stack) {
    QString text = errorText(code);
    if (text.isEmpty())
        text = msg(Message::EngineErrorCode,
                   {QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'))});
    QStringList lines{text};
    for (const QString& entry : stack) {
        if (!entry.isEmpty() && !lines.contains(entry))
            lines << entry;
    }
    throw EEngineError(code, lines.join(QLatin1Char('\n')));
}

Result::~Result() {
    PQclear(result_);
}

int Result::rows() const {
    return PQntuples(result_);
}

bool Result::isNull(int row, int column) const {
    return PQgetisnull(result_, row, column);
}

QByteArray Result::bytes(int row, int column) const {
    return QByteArray(PQgetvalue(result_, row, column), PQgetlength(result_, row, column));
}

qint64 Result::affected() const {
    return QByteArray(PQcmdTuples(result_)).toLongLong();
}

namespace {

// The connection string's settings without the password, for messages.
QString describeServer(const QByteArray& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.constData(), &error);
    if (!options) {
        PQfreemem(error);
        return {};
    }
    QStringList parts;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (o->val && *o->val && qstrcmp(o->keyword, "password") != 0)
            parts << QString::fromUtf8(o->keyword) + QLatin1Char('=') + QString::fromUtf8(o->val);
    }
    PQconninfoFree(options);
    return parts.join(QLatin1Char(' '));
}

// libpq's message as lines of ours: trimmed, without its "FATAL:  " style prefixes doubled.
QString libpqText(const char* message) {
    return QString::fromUtf8(message).trimmed();
}

quint16 codeForState(const QByteArray& state) {
    if (state == "23505")
        return codes::KeyViolation;
    if (state == "42P01")
        return codes::TableNotFound;
    if (state == "42P07")
        return codes::TableExists;
    if (state == "42501")
        return codes::AccessDenied;
    if (state == "22003" || state == "22P02" || state == "22001")
        return codes::InvalidValue;
    if (state == "53100")
        return codes::DiskFull;
    if (state == "53200")
        return codes::OutOfMemory;
    if (state == "55P03" || state == "40P01" || state == "57014")
        return codes::TableBusy;
    if (state.startsWith("08") || state.startsWith("57P"))
        return codes::ServerUnavailable;
    if (state.startsWith("58"))
        return codes::IoError;
    return codes::GeneralError;
}

} // namespace

Connection::Connection(const QString& conninfo)
    : conninfo_(conninfo.toUtf8()), serverName_(describeServer(conninfo_)) {
    connect();
}

Connection::~Connection() {
    PQfinish(conn_);
}

void Connection::connect() {
    const char* keywords[] = {"dbname", "client_encoding", "application_name", nullptr};
    const char* values[] = {conninfo_.constData(), "UTF8", "lv26", nullptr};
    PQfinish(conn_);
    {
        WaitScope wait;
        conn_ = PQconnectdbParams(keywords, values, 1);
    }
    if (!conn_)
        raise(codes::OutOfMemory);
    if (PQstatus(conn_) != CONNECTION_OK)
        abandon();
    // The server's notices (an unlock of a lock a lost session held...) are not the user's.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Keyset reads rely on a UNION ALL keeping its branches' order, which a parallel plan
    // would not; a statement waiting on a row another session writes gives up as "busy".
    PGresult* set = PQexec(conn_, "SET max_parallel_workers_per_gather = 0; "
                                  "SET lock_timeout = '5s'");
    const bool ok = PQresultStatus(set) == PGRES_COMMAND_OK;
    PQclear(set);
    if (!ok)
        abandon();

    snapshotExpression_ = PQserverVersion(conn_) >= 130000
                              ? QStringLiteral("pg_current_snapshot()::text")
                              : QStringLiteral("txid_current_snapshot()::text");
    ++generation_;
    claims_.clear();
    prepared_.clear(); // they died with the old session
}

void Connection::abandon() {
    const QString text = libpqText(PQerrorMessage(conn_));
    PQfinish(conn_);
    conn_ = nullptr;
    failConnection(text);
}

void Connection::ensureConnected() {
    if (PQstatus(conn_) == CONNECTION_OK)
        return;
    connect();
}

void Connection::failConnection(const QString& libpqMessage) {
    raise(codes::ServerUnavailable, {libpqMessage, msg(Message::EngineAtServer, {serverName_})});
}

void Connection::failStatement(pg_result* result, const QString& tableName) {
    const QByteArray state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QString serverText =
        libpqText(result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : "");
    const QString connectionText = libpqText(PQerrorMessage(conn_));
    PQclear(result);
    if (PQstatus(conn_) != CONNECTION_OK)
        failConnection(connectionText);
    const quint16 code = codeForState(state);
    const QString table =
        tableName.isEmpty() ? QString() : msg(Message::EngineAtTable, {tableName});
    if (code == codes::ServerUnavailable)
        failConnection(serverText.isEmpty() ? connectionText : serverText);
    raise(code,
          {table, code == codes::GeneralError || code == codes::IoError ? serverText : QString()});
}

namespace {

std::vector<const char*> parameterValues(const Params& params) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params)
        values.push_back(p ? p->constData() : nullptr);
    return values;
}

bool succeeded(pg_result* result) {
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

} // namespace

Result Connection::exec(const QString& sql, const Params& params, const QString& tableName) {
    ensureConnected();
    const QByteArray text = sql.toUtf8();
    const std::vector<const char*> values = parameterValues(params);
    PGresult* result = PQexecParams(conn_, text.constData(), int(values.size()), nullptr,
                                    values.data(), nullptr, nullptr, 0);
    if (!succeeded(result))
        failStatement(result, tableName);
    return Result(result);
}

Result Connection::execPrepared(const QString& sql, const Params& params,
                                const QString& tableName) {
    ensureConnected();
    const QByteArray text = sql.toUtf8();
    auto it = prepared_.find(text);
    if (it == prepared_.end()) {
        const QByteArray name = "lv26_" + QByteArray::number(++preparedMade_);
        PGresult* made =
            PQprepare(conn_, name.constData(), text.constData(), int(params.size()), nullptr);
        if (!succeeded(made))
            failStatement(made, tableName);
        PQclear(made);
        it = prepared_.emplace(text, name).first;
    }
    const std::vector<const char*> values = parameterValues(params);
    PGresult* result = PQexecPrepared(conn_, it->second.constData(), int(values.size()),
                                      values.data(), nullptr, nullptr, 0);
    if (!succeeded(result)) {
        // A statement the session no longer has, or whose table changed shape, is prepared
        // anew next time.
        const QByteArray state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        if (state == "26000" || state == "0A000")
            prepared_.erase(it);
        failStatement(result, tableName);
    }
    return Result(result);
}

QByteArray Connection::currentSnapshot(const QString& tableName) {
    return execPrepared(QStringLiteral("SELECT ") + snapshotExpression_, {}, tableName).bytes(0, 0);
}

bool Connection::inTransaction() const {
    return PQtransactionStatus(conn_) != PQTRANS_IDLE;
}

void Connection::copy(const QString& copySql, const QByteArray& text, const QString& tableName) {
    ensureConnected();
    PGresult* start = PQexec(conn_, copySql.toUtf8().constData());
    if (PQresultStatus(start) != PGRES_COPY_IN)
        failStatement(start, tableName);
    PQclear(start);
    const bool sent = PQputCopyData(conn_, text.constData(), int(text.size())) == 1 &&
                      PQputCopyEnd(conn_, nullptr) == 1;
    PGresult* result = PQgetResult(conn_);
    if (!sent || PQresultStatus(result) != PGRES_COMMAND_OK)
        failStatement(result, tableName);
    PQclear(result);
    // Drain to the end of the command so that the next statement starts clean.
    while (PGresult* rest = PQgetResult(conn_))
        PQclear(rest);
}

bool Connection::claim(const LockKey& key, const void* owner) {
    const auto [it, inserted] = claims_.emplace(key, owner);
    return inserted || it->second == owner;
}

bool Connection::claimedByOther(const LockKey& key, const void* owner) const {
    const auto it = claims_.find(key);
    return it != claims_.end() && it->second != owner;
}

void Connection::unclaim(const LockKey& key) {
    claims_.erase(key);
}

} // namespace lv26::engine::pg
