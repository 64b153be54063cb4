#include "engine/RowLock.h"

#include "engine/Sqlite.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
              {QStringLiteral("Table: ") + tableName, QStringLiteral("File: ") + path,
               QString::fromLocal8Bit(std::strerror(errno))});
    }
}

namespace {

// Locks (or unlocks) `length` bytes from the row's offset; a length of 0 reaches the end.
int setLock(int fd, short type, qint64 rowId, off_t length = 1) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    // Row identities may be negative in files made elsewhere: fold them into the offsets.
    lock.l_start = off_t(quint64(rowId) & 0x7fffffffffffffffULL);
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
        raise(codes::GeneralError, {QStringLiteral("Table: ") + tableName_});
    if (setLock(fd_, F_WRLCK, firstRowId, off_t(count)) == 0)
        return true;
    if (errno == EAGAIN || errno == EACCES)
        return false;
    raise(codes::IoError,
          {QStringLiteral("Table: ") + tableName_, QString::fromLocal8Bit(std::strerror(errno))});
}

void RowLockFile::unlock(qint64 rowId) {
    if (fd_ >= 0)
        setLock(fd_, F_UNLCK, rowId);
}

void RowLockFile::unlockAll() {
    if (fd_ >= 0)
        setLock(fd_, F_UNLCK, 0, 0);
}

} // namespace lv26::engine::detail
