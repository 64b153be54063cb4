#pragma once

// A cursor over one table file, ordered by one index plus the row identity (ties), moved by
// keyset seeks: every move asks SQLite for the first row after (or before) the current key
// in index order, through a few prepared index-range queries. A run of moves in one direction
// keeps a bounded batch of the rows that follow (at most 64), checked against the file's
// data version before each use; nothing else is materialised. In write-ahead-log mode that
// check first compares the log index header, which every commit rewrites, with the one seen
// before the batch was read: unchanged, nobody has committed and no statement need run.
// Likewise a range on one text key (a master's detail rows) is answered from the rows read
// for an earlier such range when they reach over it and nobody has committed since: a run of
// ranges in key order costs one query per few hundred rows.

#include "engine/RowLock.h"
#include "engine/Sqlite.h"

#include <memory>
#include <optional>
#include <unordered_map>

namespace lv26::engine::detail {

class SqliteCursor final : public Cursor {
public:
    // Takes over the open database `db` whose schema is `schema`; orders by `index`.
    // `lockPath` is the table file whose sidecar holds the row locks (unused when read-only).
    SqliteCursor(std::unique_ptr<Database> db, SchemaDetail schema, IndexDetail index,
                 bool readOnly, const QString& tablePath);

    const TableDescription& description() const override { return schema_.description; }
    bool isReadOnly() const override { return readOnly_; }

    void moveToBof() override;
    void moveToEof() override;
    bool next(Row& row) override;
    bool prior(Row& row) override;
    bool current(Row& row) override;

    Bookmark bookmark() const override;
    bool gotoBookmark(const Bookmark& bookmark) override;

    void setRange(const QVariant& low, const QVariant& high) override;
    void clearRange() override;
    void refresh() override;
    qint64 rowCount() override;

    void lockCurrent(Row& row) override;
    void releaseLock() override;
    bool hasLock() const override { return lockedRowId_.has_value(); }
    void updateCurrent(const Row& row) override;
    void insertRow(const Row& row) override;
    void deleteCurrent() override;

private:
    enum class Place { Bof, Eof, At };
    enum class RangeKind { None, Blank, Between, UpTo, Empty };
    enum class Query {
        First,
        Last,
        TieNext,
        TiePrior,
        Greater,
        Less,
        NullAt,
        ByRowId,
        ByRowIdInRange
    };

    struct Found {
        qint64 rowId = 0;
        QList<RawValue> key;
        Row row;
    };

    Statement& statement(Query query, int level, bool currentIsNull);
    QString sqlFor(Query query, int level, bool currentIsNull) const;
    QString keyExpr(int part) const;
    QString rangeTerm() const;
    void bindParameters(Statement& stmt) const;
    bool run(Query query, int level, bool currentIsNull, Found* found);
    // Reads the row `stmt` stands on.
    void readFound(Statement& stmt, Found* found) const;
    // Runs the query of a move; after the row it stands on, keeps up to `ahead` more rows of
    // the same query (the rows that follow in the move's direction) in the read-ahead batch.
    bool runMove(Query query, int level, bool currentIsNull, Found* found, bool forward);
    // Stands on the next row of the read-ahead batch in direction `forward`, when the batch
    // has one and nobody has written to the file since it was read.
    // End: the batch ran to the end of the range, so there is no such row.
    enum class FromBatch { Miss, Row, End };
    FromBatch takeFromBatch(bool forward, Row& row);
    void dropBatch();
    qint64 dataVersion();
    // The write-ahead log index header as it is now, when this connection has one mapped;
    // nullopt otherwise (not in that mode, or not mapped yet).
    struct LogHeader {
        unsigned char bytes[48];
        bool operator==(const LogHeader& other) const;
    };
    std::optional<LogHeader> logHeader();
    bool batchStillCurrent();

    // Rows in index order from the first whose first key part is at or after `from`, read at
    // once for ranges on one text key; valid while the log header is `header`.
    struct RangeRows {
        QList<Found> rows;
        QByteArray from;
        bool toTheEnd = false; // nothing follows the last row
        LogHeader header{};
        qint64 version = -1;
        qsizetype hint = 0; // where the last range began
    };
    bool rangeRowsUsable() const;
    bool rangeRowsCover(const QByteArray& key) const;
    void readRangeRows();
    FromBatch firstOfRangeFromRows(Found* found);
    int aheadFor(bool forward) const;
    bool isLastQuery(Query query, int level) const;
    int firstSeekLevel() const;
    void noteMove(bool forward);
    bool step(bool forward, Row& row);
    bool seekForward(Found* found);
    bool seekBackward(Found* found);
    bool tiesPossible() const;

    // Runs the queries of one move in one read transaction (unless one is open already).
    class ReadTransaction {
    public:
        explicit ReadTransaction(SqliteCursor& cursor);
        ~ReadTransaction();
        // True when this object began the transaction (false inside one already open).
        bool began() const { return active_; }

    private:
        SqliteCursor& cursor_;
        bool active_ = false;
    };
    void standOn(const Found& found, Row& row);
    bool readByRowId(qint64 rowId, Found* found, bool withinRange = false);
    void requireWritable() const;
    void requireRow() const;
    bool takeLock(qint64 rowId);
    QList<RawValue> bindRow(Statement& stmt, const Row& row) const;
    [[noreturn]] void raiseHere(quint16 code) const;

    std::unique_ptr<Database> db_;
    SchemaDetail schema_;
    IndexDetail index_;
    bool readOnly_;
    RowLockFile locks_;
    std::unordered_map<int, std::unique_ptr<Statement>> statements_;
    std::unique_ptr<Statement> update_, insert_, delete_, begin_, commit_, dataVersion_;

    // Read-ahead: rows that follow the current one in the direction of the last moves, read
    // by the same query, valid while the file's data version (changed by every commit of
    // another connection) is the one they were read under and this cursor wrote nothing.
    QList<Found> batch_;
    qsizetype batchNext_ = 0;
    bool batchForward_ = true;
    bool batchEnds_ = false; // nothing follows the batch's last row
    qint64 batchVersion_ = -1;
    std::optional<LogHeader> batchHeader_; // taken before the batch's transaction began
    std::optional<LogHeader> transactionHeader_;
    const volatile unsigned char* logIndex_ = nullptr; // the mapped log index, when known
    bool logIndexLooked_ = false;
    bool utf8_ = false; // the file's text encoding, as the range rows compare keys
    std::optional<RangeRows> rangeRows_;
    std::unique_ptr<Statement> rangeRead_;
    int streak_ = 0; // consecutive moves in the direction of batchForward_

    Place place_ = Place::Bof;
    bool onRow_ = false; // the row at the current place was read and not deleted since
    QList<RawValue> key_;
    qint64 rowId_ = 0;
    std::optional<qint64> lockedRowId_; // the row this cursor holds locked

    RangeKind range_ = RangeKind::None;
    RawValue low_, high_;
};

} // namespace lv26::engine::detail
