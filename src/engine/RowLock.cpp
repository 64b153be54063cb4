#include "engine/RowLock.h"

#include "base/Messages.h"
#include "engine/Sqlite.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace lv26::engine::detail {

RowLockFile::~RowLockFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

QString RowLockFile::pathFor(const QString& tablePath) {
    return tablePath + QStringLiteral("-lock");
}

void RowLockFile::open(const QString& tablePath, const QString& tableName) {
    tableName_ = tableName;
    const QString path = pathFor(tablePath);
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        raise(codes::AccessDenied,
              {msg(Message::EngineAtTable, {tableName}), msg(Message::EngineAtFile, {path}),
               QString::fromLocal8Bit(std::strerror(errno))});
    }
}

namespace {

// The byte that stands for a row: its identity when that is a valid offset with room for one
// byte after it; identities below 0 (files made elsewhere) fold into the top half, where a
// collision with a huge identity only makes the two rows exclude each other.
off_t lockOffset(qint64 rowId) {
    constexpr qint64 last = std::numeric_limits<off_t>::max() - 1;
    if (rowId >= 0)
        return off_t(std::min(rowId, last));
    return off_t(std::min(qint64(quint64(rowId) - (quint64(1) << 63)), last));
}

// Locks (or unlocks) `length` bytes from `offset`; a length of 0 reaches the end.
int setLock(int fd, short type, off_t offset, off_t length = 1) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = length;
    lock.l_pid = 0; // required for open-file-description locks
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

} // namespace

bool RowLockFile::tryLock(qint64 rowId) {
    return tryLockSpan(rowId, 1);
}

bool RowLockFile::tryLockSpan(qint64 firstRowId, qint64 count) {
    if (fd_ < 0)
        raise(codes::GeneralError, {msg(Message::EngineAtTable, {tableName_})});
    if (setLock(fd_, F_WRLCK, lockOffset(firstRowId), off_t(count)) == 0)
        return true;
    if (errno == EAGAIN || errno == EACCES)
        return false;
    raise(codes::IoError, {msg(Message::EngineAtTable, {tableName_}),
                           QString::fromLocal8Bit(std::strerror(errno))});
}

bool RowLockFile::anyLockedElsewhere() const {
    if (fd_ < 0)
        raise(codes::GeneralError, {msg(Message::EngineAtTable, {tableName_})});
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // every row's byte
    lock.l_pid = 0;
    int rc;
    do {
        rc = ::fcntl(fd_, F_OFD_GETLK, &lock);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        raise(codes::IoError, {msg(Message::EngineAtTable, {tableName_}),
                               QString::fromLocal8Bit(std::strerror(errno))});
    return lock.l_type != F_UNLCK;
}

void RowLockFile::unlock(qint64 rowId) {
    if (fd_ >= 0)
        setLock(fd_, F_UNLCK, lockOffset(rowId));
}

void RowLockFile::unlockAll() {
    if (fd_ >= 0)
        setLock(fd_, F_UNLCK, 0, 0);
}

} // namespace lv26::engine::detail
