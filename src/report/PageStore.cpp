#include "report/PageStore.h"

#include "base/Error.h"
#include "base/Messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lv26 {

namespace {

using namespace pagestore;

[[noreturn]] void raise(const QString& message) {
    throw Error(message);
}

[[noreturn]] void raiseFileError(Message text, const QString& fileName) {
    raise(msg(text, {fileName}));
}

[[noreturn]] void raiseInvalidPicture() {
    raise(msg(Message::MetafileNotValid));
}

// The platform's wording for a failed transfer, as the text export reports it too.
QString ioErrorText(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return msg(Message::DiskFull);
    case EACCES:
    case EPERM:
    case EROFS:
        return msg(Message::FileAccessDenied);
    default:
        return msg(Message::IoErrorNumber, {error});
    }
}

// Writes all of `data` at `offset`, or at the file position when offset < 0. Returns 0, or
// the errno of the failure.
int writeAll(int fd, const char* data, qint64 size, qint64 offset) {
    while (size > 0) {
        const ssize_t done = offset < 0 ? ::write(fd, data, size_t(size))
                                        : ::pwrite(fd, data, size_t(size), off_t(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return done < 0 ? errno : EIO;
        data += done;
        size -= done;
        if (offset >= 0)
            offset += done;
    }
    return 0;
}

// Reads up to `size` bytes at `offset`; returns the number read. When it is short, *error is
// the errno of the failed read, or EIO when the file ended first; else 0.
qint64 readAt(int fd, char* data, qint64 size, qint64 offset, int* error) {
    qint64 total = 0;
    *error = 0;
    while (total < size) {
        const ssize_t done = ::pread(fd, data + total, size_t(size - total), off_t(offset + total));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            *error = done < 0 ? errno : EIO;
            break;
        }
        total += done;
    }
    return total;
}

// True when another open file holds a conflicting lock. Locking is advisory and only keeps
// page stores (of this or another process) from overwriting a file one of them reads.
bool heldElsewhere(int fd, int operation) {
    return ::flock(fd, operation | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

quint32 u32At(const char* bytes, qint64 offset) {
    return qFromLittleEndian<quint32>(bytes + offset);
}

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // Closes now; returns 0 or the errno of the failure.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

} // namespace

namespace pagestore {

qint64 metafileSize(const char* header, qint64 size) {
    constexpr quint32 kHeaderRecordType = 1;
    constexpr quint32 kSignature = 0x464D4520; // " EMF"
    if (size < kMinPictureSize)
        return -1;
    const quint32 recordSize = u32At(header, 4);
    const quint32 totalSize = u32At(header, 48);
    if (u32At(header, 0) != kHeaderRecordType || recordSize < kMinPictureSize ||
        u32At(header, 40) != kSignature || totalSize < recordSize)
        return -1;
    return totalSize;
}

double toDayNumber(const QDateTime& when) {
    const QDateTime local = when.toLocalTime();
    const qint64 days = QDate(1899, 12, 30).daysTo(local.date());
    return double(days) + local.time().msecsSinceStartOfDay() / 86400000.0;
}

} // namespace pagestore

// ---- TPageStream ----

TPageStream::TPageStream() = default;

TPageStream::~TPageStream() = default;

std::unique_ptr<TPageStream> TPageStream::openReportFile(const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        raise(msg(Message::FileDoesNotExist));
    // A FIFO or device would block or never end; only plain files are report files.
    if (!info.isFile())
        raiseFileError(Message::CannotOpenFile, fileName);
    std::unique_ptr<TPageStream> stream(new TPageStream);
    stream->reportFile_ = std::make_unique<QFile>(fileName);
    if (!stream->reportFile_->open(QIODevice::ReadOnly))
        raiseFileError(Message::CannotOpenFile, fileName);
    stream->fd_ = stream->reportFile_->handle();
    if (heldElsewhere(stream->fd_, LOCK_SH))
        raiseFileError(Message::CannotOpenFile, fileName);
    stream->fileSize_ = stream->reportFile_->size();
    stream->storage_ = Storage::ReportFile;
    return stream;
}

qint64 TPageStream::read(char* data, qint64 maxSize) {
    QMutexLocker locker(&lock_);
    ++stats_.reads;
    readError_ = 0;
    const qint64 available = std::max<qint64>(0, size() - pos_);
    const qint64 wanted = std::min(maxSize, available);
    if (wanted <= 0)
        return 0;
    qint64 done = wanted;
    if (storage_ == Storage::Memory)
        std::memcpy(data, memory_.constData() + pos_, size_t(wanted));
    else
        done = readAt(fd_, data, wanted, pos_, &readError_);
    pos_ += done;
    return done;
}

void TPageStream::write(const char* data, qint64 size) {
    QMutexLocker locker(&lock_);
    ++stats_.writes;
    switch (storage_) {
    case Storage::ReportFile:
        raise(ioErrorText(EACCES));
    case Storage::TemporaryFile:
        if (const int error = writeAll(fd_, data, size, pos_))
            raise(ioErrorText(error));
        pos_ += size;
        fileSize_ = std::max(fileSize_, pos_);
        return;
    case Storage::Memory:
        if (pos_ + size > memory_.size())
            memory_.resize(pos_ + size);
        std::memcpy(memory_.data() + pos_, data, size_t(size));
        pos_ += size;
        if (memory_.size() > kMemoryLimit)
            spillToTemporaryFile();
        return;
    }
}

void TPageStream::spillToTemporaryFile() {
    // The full path is used whatever its length.
    const QString nameTemplate =
        QDir::tempPath() + QLatin1Char('/') + QLatin1String(kTempFilePrefix) + "XXXXXX";
    auto file = std::make_unique<QTemporaryFile>(nameTemplate);
    if (!file->open())
        raiseFileError(Message::CannotCreateFile, nameTemplate);
    const int fd = file->handle();
    heldElsewhere(fd, LOCK_EX); // only to keep a save from overwriting it
    if (const int error = writeAll(fd, memory_.constData(), memory_.size(), 0))
        raise(ioErrorText(error)); // the file is deleted with `file`
    tempFile_ = std::move(file);
    fd_ = fd;
    fileSize_ = memory_.size();
    storage_ = Storage::TemporaryFile;
    memory_ = QByteArray();
}

void TPageStream::seek(qint64 pos) {
    QMutexLocker locker(&lock_);
    ++stats_.seeks;
    pos_ = std::max<qint64>(0, pos);
}

qint64 TPageStream::pos() const {
    QMutexLocker locker(&lock_);
    return pos_;
}

qint64 TPageStream::size() const {
    QMutexLocker locker(&lock_);
    return storage_ == Storage::Memory ? memory_.size() : fileSize_;
}

void TPageStream::truncate(qint64 newSize) {
    QMutexLocker locker(&lock_);
    newSize = std::clamp<qint64>(newSize, 0, size());
    if (storage_ == Storage::Memory)
        memory_.truncate(newSize);
    else if (storage_ == Storage::TemporaryFile && ::ftruncate(fd_, off_t(newSize)) == 0)
        fileSize_ = newSize;
    // else best effort: the caller is already reporting a failure
    pos_ = std::min(newSize, size());
}

QString TPageStream::fileName() const {
    if (tempFile_)
        return tempFile_->fileName();
    if (reportFile_)
        return reportFile_->fileName();
    return {};
}

// ---- TPageList ----

TPageList::TPageList() : stream_(std::make_unique<TPageStream>()) {}

TPageList::TPageList(std::unique_ptr<TPageStream> stream, int pageCount)
    : stream_(std::move(stream)), pageCount_(pageCount) {}

TPageList::~TPageList() = default;

std::unique_ptr<TPageList> TPageList::openFile(const QString& fileName) {
    auto stream = TPageStream::openReportFile(fileName);
    char header[kHeaderSize];
    stream->seek(0);
    if (stream->read(header, kHeaderSize) != kHeaderSize)
        raiseFileError(Message::NotAReportFile, fileName);
    const qint32 pageCount = qFromLittleEndian<qint32>(header + kPageCountOffset);
    const qint64 maxPages = (stream->size() - kHeaderSize) / kMinRecordSize;
    if (pageCount < 1 || pageCount > maxPages)
        raiseFileError(Message::NotAReportFile, fileName);
    return std::unique_ptr<TPageList>(new TPageList(std::move(stream), pageCount));
}

int TPageList::pageCount() const {
    QMutexLocker locker(&lock_);
    return pageCount_;
}

void TPageList::appendPage(const QByteArray& picture) {
    const qint64 pictureSize = metafileSize(picture.constData(), picture.size());
    if (pictureSize < 0 || pictureSize != picture.size())
        raiseInvalidPicture();
    QMutexLocker listLocker(&lock_);
    QMutexLocker streamLocker(&stream_->lock());
    const qint64 sizeBefore = stream_->size();
    const qint64 headerGrowth = pageCount_ == 0 ? kHeaderSize : 0;
    if (sizeBefore + headerGrowth + kRecordOverhead + pictureSize > kMaxStreamSize)
        raise(msg(Message::ReportTooLarge));
    const int page = pageCount_ + 1;
    // Room for the new record's offset first, so nothing can fail once the record is written.
    if (recordOffsets_.size() < size_t(page))
        recordOffsets_.resize(page, 0);
    try {
        if (page == 1)
            writeHeaderBytes(1);
        const qint64 record = stream_->size();
        stream_->seek(record);
        writeInt32(page);
        const qint64 nextLink = stream_->pos();
        writeInt32(0);
        stream_->write(picture.constData(), pictureSize);
        writeInt32(qint32(record));
        const qint64 end = stream_->pos();
        stream_->seek(nextLink);
        writeInt32(qint32(end));
        stream_->seek(end);
        recordOffsets_[page - 1] = qint32(record);
    } catch (const Error&) {
        // Take the half-written record back so the stream stays a valid chain of pages.
        stream_->truncate(sizeBefore);
        throw;
    }
    pageCount_ = page;
}

std::optional<QByteArray> TPageList::fetchPage(int n) {
    QMutexLocker listLocker(&lock_);
    if (n < 1 || n > pageCount_)
        return std::nullopt;
    QMutexLocker streamLocker(&stream_->lock());
    lastWalkLength_ = 0;
    try {
        goToRecord(n);
        const qint64 record = stream_->pos();
        QByteArray picture = readRecord(n);
        learnRecord(n, record);
        return picture;
    } catch (const Error&) {
        // Leave the position on a record boundary for the next fetch.
        stream_->seek(kHeaderSize);
        throw;
    }
}

void TPageList::writeHeader() {
    QMutexLocker listLocker(&lock_);
    QMutexLocker streamLocker(&stream_->lock());
    writeHeaderBytes(pageCount_);
}

void TPageList::writeHeaderBytes(qint32 pageCount) {
    char header[kHeaderSize] = {};
    qToLittleEndian<quint16>(kHeaderWord0, header);
    qToLittleEndian<quint16>(kHeaderWord1, header + 2);
    qToLittleEndian<qint32>(pageCount, header + kPageCountOffset);
    const double now = toDayNumber(QDateTime::currentDateTime());
    quint64 bits;
    std::memcpy(&bits, &now, sizeof bits);
    qToLittleEndian<quint64>(bits, header + kDateTimeOffset);
    header[kCompressionOffset] = 0;
    stream_->seek(0);
    stream_->write(header, kHeaderSize);
}

// Leaves the position at the start of record n: directly when its offset is known, else
// walking the chain from the current record when n is neither the first nor the last page.
void TPageList::goToRecord(int n) {
    if (const qint64 known = knownRecord(n)) {
        checkRecordOffset(known);
        stream_->seek(known);
        return;
    }
    if (n == 1) {
        checkRecordOffset(kHeaderSize);
        stream_->seek(kHeaderSize);
        return;
    }
    if (n == pageCount_) {
        goToLastRecord();
        return;
    }
    if (stream_->pos() >= stream_->size())
        goToLastRecord();
    qint64 record = stream_->pos();
    checkRecordOffset(record);
    int page = readInt32();
    if (page < 1 || page > pageCount_)
        raiseInvalidPicture();
    while (page != n) {
        record = stepToNeighbour(record, page, n);
        page += page < n ? 1 : -1;
        ++lastWalkLength_;
        learnRecord(page, record);
    }
    stream_->seek(record);
}

qint64 TPageList::knownRecord(int n) const {
    return n <= int(recordOffsets_.size()) ? recordOffsets_[n - 1] : 0;
}

// Remembers record n's offset once its page number has been read there.
void TPageList::learnRecord(int n, qint64 record) {
    if (recordOffsets_.size() < size_t(n))
        recordOffsets_.resize(std::max(n, pageCount_), 0);
    recordOffsets_[n - 1] = qint32(record);
}

void TPageList::goToLastRecord() {
    stream_->seek(stream_->size() - 4);
    const qint64 last = readInt32();
    checkRecordOffset(last);
    stream_->seek(last);
}

// Moves from `record` (holding page `fromPage`) one record towards page n and returns the
// neighbour's offset. Each step must reach the adjacent page number by a link pointing the
// right way, so a damaged chain ends the walk within |n - fromPage| steps.
qint64 TPageList::stepToNeighbour(qint64 record, int fromPage, int n) {
    const bool forward = fromPage < n;
    if (!forward && record - 4 < kHeaderSize)
        raiseInvalidPicture();
    stream_->seek(forward ? record + 4 : record - 4);
    const qint64 target = readInt32();
    if (forward ? target <= record : target >= record)
        raiseInvalidPicture();
    checkRecordOffset(target);
    stream_->seek(target);
    if (readInt32() != (forward ? fromPage + 1 : fromPage - 1))
        raiseInvalidPicture();
    return target;
}

// Reads the record at the position, which must hold page n and be consistent in its links,
// and leaves the position just after it.
QByteArray TPageList::readRecord(int n) {
    const qint64 record = stream_->pos();
    if (readInt32() != n)
        raiseInvalidPicture();
    const qint64 next = readInt32();
    char header[kMinPictureSize];
    if (stream_->read(header, kMinPictureSize) != kMinPictureSize)
        raiseInvalidPicture();
    const qint64 size = metafileSize(header, kMinPictureSize);
    const qint64 end = record + kRecordOverhead + size;
    if (size < 0 || size > kMaxPictureSize || end > stream_->size() || next != end)
        raiseInvalidPicture();
    QByteArray picture(size, Qt::Uninitialized);
    std::memcpy(picture.data(), header, kMinPictureSize);
    const qint64 rest = size - kMinPictureSize;
    if (stream_->read(picture.data() + kMinPictureSize, rest) != rest)
        raiseInvalidPicture();
    if (readInt32() != record)
        raiseInvalidPicture();
    return picture;
}

void TPageList::checkRecordOffset(qint64 offset) const {
    if (offset < kHeaderSize || offset + kMinRecordSize > stream_->size())
        raiseInvalidPicture();
}

qint32 TPageList::readInt32() {
    char bytes[4];
    if (stream_->read(bytes, 4) != 4)
        raiseInvalidPicture();
    return qFromLittleEndian<qint32>(bytes);
}

void TPageList::writeInt32(qint32 value) {
    char bytes[4];
    qToLittleEndian<qint32>(value, bytes);
    stream_->write(bytes, 4);
}

void TPageList::copyToFile(const QString& fileName) {
    const QByteArray path = QFile::encodeName(fileName);
    // O_NONBLOCK keeps a FIFO without a reader from blocking the open; writes to regular
    // files are not affected by it.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        raiseFileError(Message::CannotCreateFile, fileName);
    FdCloser closer(fd);
    // The file a page store reads (a loaded report, or this store's own file) stays intact.
    if (heldElsewhere(fd, LOCK_EX))
        raiseFileError(Message::CannotCreateFile, fileName);
    struct stat target;
    if (::fstat(fd, &target) != 0)
        raiseFileError(Message::CannotCreateFile, fileName);
    const bool regular = S_ISREG(target.st_mode);
    if (regular && ::ftruncate(fd, 0) != 0)
        raiseFileError(Message::CannotCreateFile, fileName);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    int error = 0;
    {
        QMutexLocker streamLocker(&stream_->lock());
        const qint64 size = stream_->size();
        stream_->seek(0);
        char chunk[kCopyChunkSize];
        qint64 got, copied = 0;
        while (error == 0 && (got = stream_->read(chunk, kCopyChunkSize)) > 0) {
            error = writeAll(fd, chunk, got, -1);
            copied += got;
        }
        // A read that ended early (a report file cut by another program) is a short copy.
        if (error == 0 && copied != size)
            error = stream_->readError() != 0 ? stream_->readError() : EIO;
        if (error != 0)
            stream_->seek(size);
    }
    const int closeError = closer.close();
    if (error == 0)
        error = closeError;
    if (error == 0)
        return;
    // Remove the incomplete copy, but only the very file written and only a plain file.
    struct stat now;
    if (regular && ::lstat(path.constData(), &now) == 0 && S_ISREG(now.st_mode) &&
        now.st_dev == target.st_dev && now.st_ino == target.st_ino)
        ::unlink(path.constData());
    raise(ioErrorText(error));
}

} // namespace lv26
