#pragma once

// The page store: the finished pages of one report, each an enhanced metafile, kept in one
// byte stream that starts in memory and moves to a temporary file when it grows past
// 100000 bytes. The stream's bytes are exactly those of a saved report file; the layout is
// described in docs/report-file.md.

#include <QByteArray>
#include <QDateTime>
#include <QRecursiveMutex>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <vector>

class QFile;
class QTemporaryFile;

namespace lv26 {

namespace pagestore {

inline constexpr qint64 kHeaderSize = 124;
inline constexpr quint16 kHeaderWord0 = 3;
inline constexpr quint16 kHeaderWord1 = 203;
inline constexpr qint64 kPageCountOffset = 8;
inline constexpr qint64 kDateTimeOffset = 12;
inline constexpr qint64 kCompressionOffset = 21;

// A record is: page number (4), next-record offset (4), picture (n), back-link (4).
inline constexpr qint64 kRecordOverhead = 12;
// Smallest picture a record can hold: the fixed part of the metafile header record.
inline constexpr qint64 kMinPictureSize = 88;
inline constexpr qint64 kMinRecordSize = kRecordOverhead + kMinPictureSize;
// Pictures larger than this are refused on reading; a payroll page is a few kilobytes.
inline constexpr qint64 kMaxPictureSize = 64 * 1024 * 1024;
// Offsets in the stream are signed 32-bit.
inline constexpr qint64 kMaxStreamSize = 0x7fffffff;

inline constexpr qint64 kMemoryLimit = 100000;
inline constexpr qint64 kCopyChunkSize = 10240;
inline constexpr char kTempFilePrefix[] = "QRP";

// Returns the picture's total size in bytes taken from its header (the metafile header
// record's byte count), or -1 when `header` (at least `size` bytes) does not start with a
// metafile header record: record type 1, record size >= 88, signature " EMF" at offset 40,
// and a byte count of at least the record size. Only the header is checked.
qint64 metafileSize(const char* header, qint64 size);

// Returns `when` as days since 30 December 1899 with the time of day as the fraction, the
// value the header stores. Uses the local date and time of `when`.
double toDayNumber(const QDateTime& when);

} // namespace pagestore

// The byte stream under a page list: in memory, on a temporary file (after spilling), or on a
// report file opened for reading. It has one current position. Every read, write and seek
// takes the stream's lock. Errors are raised as lv26::Error with the user-visible message.
class TPageStream {
public:
    enum class Storage { Memory, TemporaryFile, ReportFile };

    // Counts of the calls made on the stream, for tests and benchmarks.
    struct Stats {
        qint64 reads = 0;
        qint64 writes = 0;
        qint64 seeks = 0;
    };

    // An empty in-memory stream, position 0.
    TPageStream();
    // Opens `fileName` for reading only, position 0. The file is never written or deleted by
    // the stream. Raises "File does not exist" or "Cannot open file %s" (also when another
    // stream holds the file for writing).
    static std::unique_ptr<TPageStream> openReportFile(const QString& fileName);
    // Closes the storage; a temporary file is deleted.
    ~TPageStream();

    TPageStream(const TPageStream&) = delete;
    TPageStream& operator=(const TPageStream&) = delete;

    // Reads up to `maxSize` bytes at the position into `data` and advances past them.
    // Returns the number of bytes read: fewer than asked at the end of the stream or on a
    // read error (see readError), 0 at the end.
    qint64 read(char* data, qint64 maxSize);
    // Why the last read stopped before the end of the stream: the errno of the failed read,
    // EIO when the file had become shorter than the stream's size; 0 when it did not.
    int readError() const { return readError_; }
    // Writes `size` bytes at the position, growing the stream as needed, and advances past
    // them. When the stream is in memory and has become larger than 100000 bytes, its content
    // moves to a new temporary file ("Cannot create file %s" when it cannot be created).
    // Raises the platform's input/output error text ("Disk full", "File access denied",
    // "I/O error %d") when the bytes cannot all be written; raises on a report file.
    void write(const char* data, qint64 size);
    // Sets the position; requires 0 <= pos. Reads beyond the end return nothing.
    void seek(qint64 pos);
    qint64 pos() const;
    qint64 size() const;
    // Cuts the stream to `newSize` bytes (not larger than its size) and leaves the position
    // there. Used to take back a record whose writing failed.
    void truncate(qint64 newSize);

    Storage storage() const { return storage_; }
    // The temporary or report file's name; empty while in memory.
    QString fileName() const;
    const Stats& stats() const { return stats_; }
    void resetStats() { stats_ = {}; }
    // The stream's lock; re-entrant. Hold it to make a sequence of calls atomic.
    QRecursiveMutex& lock() const { return lock_; }

private:
    void spillToTemporaryFile();

    mutable QRecursiveMutex lock_;
    Storage storage_ = Storage::Memory;
    QByteArray memory_;
    std::unique_ptr<QTemporaryFile> tempFile_;
    std::unique_ptr<QFile> reportFile_;
    int fd_ = -1;
    // Size of the file: tracked for the temporary file, taken at opening for a report file
    // (a report file that shrinks later gives short reads, which fetching reports).
    qint64 fileSize_ = 0;
    qint64 pos_ = 0;
    int readError_ = 0;
    Stats stats_;
};

// The page list: the number of pages and the operations on the records of its stream.
// Pages are metafile bytes; the list keeps nothing of a page but its bytes in the stream.
// Appending and fetching each hold the list's lock for their whole duration.
class TPageList {
public:
    // An empty store over an empty in-memory stream.
    TPageList();
    // A store over the report file `fileName`, read in place and never deleted; the page count
    // comes from the header. Raises "File does not exist", "Cannot open file %s", or
    // "File %s is not a valid report file" when the file is shorter than its header or its
    // page count is below 1 or larger than its size allows.
    static std::unique_ptr<TPageList> openFile(const QString& fileName);
    ~TPageList();

    TPageList(const TPageList&) = delete;
    TPageList& operator=(const TPageList&) = delete;

    // Appends `picture` (a complete metafile whose header's byte count is its size) as page
    // pageCount() + 1. The first page also writes the header with page count 1. On any
    // failure the page is not added and the stream is as before. Raises "Metafile is not
    // valid" for a picture that is not one, and the stream's write errors.
    void appendPage(const QByteArray& picture);
    // Returns a copy of page `n` (1-based), or nullopt when n < 1 or n > pageCount().
    // A record whose offset is known (every appended page, and every record of a loaded file
    // once a fetch has walked over it) is read directly; others are reached by walking the
    // chain. Raises "Metafile is not valid" when the record cannot be found or read or its
    // picture is not a metafile; the position then returns to the start of record 1.
    std::optional<QByteArray> fetchPage(int n);
    int pageCount() const;
    // Rewrites the header with the current page count and date and time; the position is then
    // 124, the start of record 1. Not for a store opened on a report file.
    void writeHeader();
    // Copies the whole stream to `fileName`, created or emptied first; the position is left
    // at the end of the stream. Raises "Cannot create file %s" when the file cannot be
    // created or is held by a page store, and the platform's input/output error text ("Disk
    // full", "I/O error %d", ...) when fewer bytes than the stream's size could be read or
    // written; a regular file left incomplete is removed.
    void copyToFile(const QString& fileName);
    // Always false: this program never compresses pages.
    bool compression() const { return false; }

    // Records stepped over by the last fetch's walk (0 when it went straight to its record,
    // as it does for every record whose offset is known).
    int lastWalkLength() const { return lastWalkLength_; }
    TPageStream& stream() { return *stream_; }

private:
    explicit TPageList(std::unique_ptr<TPageStream> stream, int pageCount);

    void writeHeaderBytes(qint32 pageCount);
    void goToRecord(int n);
    void goToLastRecord();
    qint64 stepToNeighbour(qint64 record, int fromPage, int n);
    qint64 knownRecord(int n) const;
    void learnRecord(int n, qint64 record);
    QByteArray readRecord(int n);
    qint32 readInt32();
    void writeInt32(qint32 value);
    void checkRecordOffset(qint64 offset) const;

    mutable QRecursiveMutex lock_;
    std::unique_ptr<TPageStream> stream_;
    int pageCount_ = 0;
    int lastWalkLength_ = 0;
    // Offset of record n at [n - 1], 0 while unknown: filled as pages are appended and, for a
    // loaded file, as fetches walk the chain, so a page is found without walking again.
    std::vector<qint32> recordOffsets_;
};

} // namespace lv26
