#pragma once

// One libpq connection shared by a PgStorage and the cursors it opens, with the raising of
// the engine's errors for the server's failures. Used only inside the PostgreSQL backend.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;

namespace lv26::engine::pg {

// Statement parameters in text form; nullopt is SQL NULL.
using Params = std::vector<std::optional<QByteArray>>;

// Throws EEngineError(code) whose message is errorText(code) (or "Table engine error
// $XXXX") followed by each non-empty entry of `stack`, each once, joined by line breaks.
[[noreturn]] void raise(quint16 code, const QStringList& stack = {});

// The result of one statement; owns it.
class Result {
public:
    explicit Result(pg_result* result) : result_(result) {}
    Result(Result&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result();

    int rows() const;
    bool isNull(int row, int column) const;
    // The value in text form (empty for NULL).
    QByteArray bytes(int row, int column) const;
    QString text(int row, int column) const { return QString::fromUtf8(bytes(row, column)); }
    qint64 integer(int row, int column) const { return bytes(row, column).toLongLong(); }
    bool boolean(int row, int column) const { return bytes(row, column) == "t"; }
    // Rows a command changed (UPDATE, DELETE, INSERT).
    qint64 affected() const;

private:
    pg_result* result_;
};

// A row lock as the server knows it: (the table's oid, the row's identity).
using LockKey = std::pair<quint32, qint64>;

class Connection {
public:
    // Connects with a libpq connection string or URI. Throws ServerUnavailable with libpq's
    // message and the server named (its password left out) when the server cannot be reached.
    explicit Connection(const QString& conninfo);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    // Runs one statement. A connection found lost is made again first (its session's locks are
    // gone: generation() changes). Throws the mapped engine error, naming `tableName` when
    // given; a connection lost meanwhile is ServerUnavailable with libpq's message.
    Result exec(const QString& sql, const Params& params = {}, const QString& tableName = {});
    // As exec(), through a statement prepared once per session for each distinct `sql`: the
    // server parses and plans it once, not at every call. For the reads a cursor repeats.
    Result execPrepared(const QString& sql, const Params& params, const QString& tableName);
    // The server's current snapshot in text form (xmin:xmax:in-progress list). Equal texts
    // taken at two moments prove that no transaction committed between them; a statement
    // reading `snapshotExpression()` gets the snapshot its own rows were read in.
    QByteArray currentSnapshot(const QString& tableName);
    QString snapshotExpression() const { return snapshotExpression_; }
    // True while a transaction block is open on the session (its own uncommitted writes
    // leave the snapshot unchanged).
    bool inTransaction() const;
    // Sends `text` in COPY FROM STDIN form after `copySql` started it; one call per batch.
    void copy(const QString& copySql, const QByteArray& text, const QString& tableName);

    // Makes the connection again when a statement found it lost, so that generation() tells
    // whether the session's locks survive. Throws ServerUnavailable when it cannot.
    void reconnectIfLost() { ensureConnected(); }
    // Changes each time the session is made again; locks taken in an older one are gone.
    quint64 generation() const { return generation_; }
    QString serverName() const { return serverName_; }

    // Row locks of this session, owned by one cursor each, so that two cursors sharing the
    // connection still exclude each other. Each returns false when `owner` cannot have it.
    bool claim(const LockKey& key, const void* owner);
    bool claimedByOther(const LockKey& key, const void* owner) const;
    void unclaim(const LockKey& key);

private:
    void connect();
    void ensureConnected();
    // Closes a connection that failed to start and throws ServerUnavailable with its message.
    [[noreturn]] void abandon();
    [[noreturn]] void failConnection(const QString& libpqMessage);
    [[noreturn]] void failStatement(pg_result* result, const QString& tableName);

    QByteArray conninfo_;
    QString serverName_;
    pg_conn* conn_ = nullptr;
    quint64 generation_ = 0;
    std::map<LockKey, const void*> claims_;
    std::map<QByteArray, QByteArray> prepared_; // statement text -> its name in this session
    quint64 preparedMade_ = 0;
    QString snapshotExpression_ = QStringLiteral("txid_current_snapshot()::text");
};

} // namespace lv26::engine::pg
