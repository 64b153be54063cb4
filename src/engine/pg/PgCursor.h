#pragma once

// A cursor over a table on the server: every move is one keyset statement in its own
// implicit transaction, so nothing stays open between moves; a row lock is the server's
// session advisory lock on (the table's oid, the row's identity). Used only inside the
// PostgreSQL backend.

#include "engine/Storage.h"
#include "engine/pg/PgTable.h"

#include <memory>

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
    void refresh() override {}
    qint64 rowCount() override;

    void lockCurrent(Row& row) override;
    void releaseLock() override;
    bool hasLock() const override;
    void updateCurrent(const Row& row) override;
    void insertRow(const Row& row) override;
    void deleteCurrent() override;

private:
    enum class Place { Bof, Eof, On, Between };

    bool step(Row& row, bool forward);
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
};

} // namespace lv26::engine::pg
