// Loads the input as a report file and fetches its pages in several orders, then copies it.
// Seeds: tests/testdata/reportfiles/*.qrp (files written by the page store).

#include "base/Error.h"
#include "report/PageStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString inputFileName() {
    // A RAM-backed directory keeps the per-input file write cheap.
    const QString dir = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                            ? QStringLiteral("/dev/shm")
                            : QDir::tempPath();
    return dir + QStringLiteral("/pagestore_fuzz_%1.qrp").arg(::getpid());
}

void writeInput(const QString& name, const uint8_t* data, size_t size) {
    const QByteArray path = QFile::encodeName(name);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    if (::ftruncate(fd, off_t(size)) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
        std::abort();
    ::close(fd);
}

void fetch(lv26::TPageList& list, int n) {
    try {
        list.fetchPage(n);
    } catch (const lv26::Error&) {
    }
}

// Removes the input file when the fuzzer exits.
struct InputFile {
    QString name = inputFileName();
    ~InputFile() { QFile::remove(name); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const InputFile input;
    const QString& name = input.name;
    writeInput(name, data, size);
    std::unique_ptr<lv26::TPageList> list;
    try {
        list = lv26::TPageList::openFile(name);
    } catch (const lv26::Error&) {
        return 0;
    }
    const int count = list->pageCount();
    for (int n = 1; n <= std::min(count + 1, 64); ++n)
        fetch(*list, n);
    for (int n = count; n >= std::max(1, count - 64); --n)
        fetch(*list, n);
    // Jumps chosen by the input's first bytes.
    for (size_t i = 0; i < std::min<size_t>(size, 16); ++i)
        fetch(*list, int(data[i]) % (count + 2));
    try {
        list->copyToFile(QStringLiteral("/dev/null"));
    } catch (const lv26::Error&) {
    }
    return 0;
}
