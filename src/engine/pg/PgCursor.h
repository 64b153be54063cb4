#pragma once

// A cursor over a table on the server: every move is one keyset statement in its own
// implicit transaction, so nothing stays open between moves; a row lock is the server's
// session advisory lock on (the table's oid, the row's identity). Used only inside the
// PostgreSQL backend.
//
// Moves that keep going one way read ahead: the statement reads the next rows too (1, then
// 16, then 256 at a time) with the snapshot they were read in, and the next moves serve them
// only while the server's current snapshot is still that one, which proves that nothing has
// committed since; otherwise the move reads anew.

#include "engine/Storage.h"
#include "engine/pg/PgTable.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace lv26::engine::pg {

class PgCursor final : public storage::TableCursor {
public:
    // Requires `table` described on `connection`; throws as KeysetQuery does for the index.
    PgCursor(std::shared_ptr<Connection> connection, PgTable table, const QString& indexName,
             bool readOnly);
    ~PgCursor() override;
    PgCursor(const PgCursor&) = delete;
    PgCursor& operator=(const PgCursor&) = delete;

    const TableDescription& description() const override { return table_.description; }
    bool isReadOnly() const override { return readOnly_; }

    void moveToBof() override;
    void moveToEof() override;
    bool next(Row& row) override;
    bool prior(Row& row) override;
    bool current(Row& row) override;

    storage::Bookmark bookmark() const override;
    bool gotoBookmark(const storage::Bookmark& bookmark) override;

    void setRange(const QVariant& low, const QVariant& high) override;
    void clearRange() override;
    void refresh() override { dropAhead(); }
    qint64 rowCount() override;

    void lockCurrent(Row& row) override;
    void releaseLock() override;
    bool hasLock() const override;
    void updateCurrent(const Row& row) override;
    void insertRow(const Row& row) override;
    void deleteCurrent() override;

private:
    enum class Place { Bof, Eof, On, Between };

    // Rows read ahead of the position in one direction, the end included when `ends`.
    struct Ahead {
        std::vector<std::pair<Row, qint64>> rows; // each row and its identity
        std::size_t next = 0;
        bool ends = false;
        QByteArray snapshot;
        quint64 generation = 0;
    };

    bool step(Row& row, bool forward);
    // Reads the next row from the server, with up to `limit` - 1 more kept ahead.
    bool readAnew(Row& row, bool forward, int limit);
    // Serves the next row kept ahead; false (at the end) when the rows ahead ran to it.
    bool serveAhead(Row& row, bool forward);
    // True when rows are kept ahead for `forward` and nothing has committed since they were
    // read. Asks the server once.
    bool aheadStillCurrent();
    bool aheadLeft() const { return ahead_.next < ahead_.rows.size() || ahead_.ends; }
    // Forgets the rows ahead and the run of moves: the next move reads one row.
    void dropAhead();
    // Reads the current row by identity into `row`; false when it is gone.
    bool readCurrent(Row& row);
    Row rowFrom(const Result& result, int index) const;
    void standOn(const Row& row, qint64 rowId);
    LockKey lockKey() const { return {table_.oid, at_.rowId()}; }
    // Takes the row lock of the current row; false when another holder has it.
    bool tryLock();
    [[noreturn]] void raiseLocked() const;
    void requireRow() const;
    void requireWritable() const;
    Params rowParams(const Row& row) const;

    std::shared_ptr<Connection> connection_;
    PgTable table_;
    KeysetQuery query_;
    bool readOnly_;
    Place place_ = Place::Bof;
    storage::Bookmark at_;
    bool locked_ = false;
    LockKey lockedKey_;
    quint64 lockGeneration_ = 0;
    Ahead ahead_;
    std::optional<bool> run_; // the direction of the moves going on, if any
    int runLevel_ = 0;        // index into the sizes of reads ahead
};

} // namespace lv26::engine::pg
