#pragma once

// Row locks shared between processes: an open-file-description lock on one byte of a
// sidecar file beside the table (offset = the row's identity). The lock belongs to this
// object's own open file description, so two objects, even in one process, exclude each
// other; the kernel drops every lock when its holder's descriptor closes or the process dies.

#include <QString>

namespace lv26::engine::detail {

class RowLockFile {
public:
    RowLockFile() = default;
    RowLockFile(const RowLockFile&) = delete;
    RowLockFile& operator=(const RowLockFile&) = delete;
    ~RowLockFile();

    // The sidecar's path for a table file: "<table>-lock".
    static QString pathFor(const QString& tablePath);

    // Opens (creating when missing) the sidecar of `tablePath`. Throws EEngineError
    // (AccessDenied) naming `tableName` when it cannot.
    void open(const QString& tablePath, const QString& tableName);
    // Takes the lock on `rowId`; false when another holder has it. Throws on other failures.
    bool tryLock(qint64 rowId);
    // Takes the locks on the `count` rows from `firstRowId` on in one call; false, holding
    // none of them, when another holder has any. Requires 0 <= firstRowId and firstRowId +
    // count - 1 < INT64_MAX (single rows of any identity go through tryLock()).
    bool tryLockSpan(qint64 firstRowId, qint64 count);
    // Releases the lock on `rowId` (no-op when not held).
    void unlock(qint64 rowId);
    // Releases every lock this object holds, in one call.
    void unlockAll();
    // True when another holder has any row of the table locked (one call). Throws as
    // tryLock() does on failures other than a conflict.
    bool anyLockedElsewhere() const;

private:
    int fd_ = -1;
    QString tableName_;
};

} // namespace lv26::engine::detail
