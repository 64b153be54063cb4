// Appends 3226 pages to a page store and fetches them forward, backward and by jumps.
// Baseline: the same bytes written and read with plain file calls in the same run.
// Memory: resident set size before and after; the store keeps at most 100000 bytes itself.

#include "report/PageStore.h"

#include "ResidentMemory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QtEndian>

#include <cstdio>
#include <unistd.h>

using lv26::bench::residentKiB;

namespace {

constexpr int kPages = 3226;
constexpr int kPictureSize = 6000; // a payroll page of text lines and frames

QByteArray makePicture(int tag) {
    QByteArray bytes(kPictureSize, char(tag));
    auto put = [&](int offset, qint32 value) { qToLittleEndian(value, bytes.data() + offset); };
    put(0, 1);
    put(4, 88);
    put(40, 0x464D4520);
    put(48, kPictureSize);
    return bytes;
}

double ms(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

void report(const char* what, double storeMs, double baselineMs) {
    std::printf("%-34s %9.2f ms   baseline %9.2f ms   ratio %6.2f\n", what, storeMs, baselineMs,
                baselineMs > 0 ? storeMs / baselineMs : 0.0);
}

} // namespace

int main() {
    QList<QByteArray> pictures;
    for (int i = 0; i < 8; ++i)
        pictures.append(makePicture(i));

    // Baseline: write and read the same bytes with plain calls.
    QTemporaryFile raw;
    raw.open();
    QElapsedTimer timer;
    timer.start();
    for (int n = 1; n <= kPages; ++n)
        raw.write(pictures[n % 8]);
    raw.flush();
    const double rawWrite = ms(timer);
    QByteArray buffer(kPictureSize, '\0');
    const int fd = raw.handle();
    auto rawRead = [&](int n) {
        ::pread(fd, buffer.data(), kPictureSize, qint64(n - 1) * kPictureSize);
    };

    const long rssBefore = residentKiB();
    lv26::TPageList store;
    timer.restart();
    for (int n = 1; n <= kPages; ++n)
        store.appendPage(pictures[n % 8]);
    store.writeHeader();
    const double append = ms(timer);
    const long rssAfterAppend = residentKiB();

    timer.restart();
    for (int n = 1; n <= kPages; ++n)
        store.fetchPage(n);
    const double forward = ms(timer);
    timer.restart();
    for (int n = 1; n <= kPages; ++n)
        rawRead(n);
    const double rawForward = ms(timer);

    timer.restart();
    for (int n = kPages; n >= 1; --n)
        store.fetchPage(n);
    const double backward = ms(timer);

    constexpr int kJumps = 200;
    QList<int> jumps;
    for (int i = 0; i < kJumps; ++i)
        jumps.append(1 + QRandomGenerator::global()->bounded(kPages));
    timer.restart();
    qint64 walked = 0;
    for (int n : jumps) {
        store.fetchPage(n);
        walked += store.lastWalkLength();
    }
    const double jump = ms(timer);
    timer.restart();
    for (int n : jumps)
        rawRead(n);
    const double rawJump = ms(timer);
    const long rssAfterFetch = residentKiB();

    std::printf("page store: %d pages of %d bytes, stream %lld bytes on %s\n", kPages, kPictureSize,
                store.stream().size(),
                store.stream().storage() == lv26::TPageStream::Storage::TemporaryFile
                    ? "a temporary file"
                    : "memory");
    report("append all pages", append, rawWrite);
    report("fetch all pages forward", forward, rawForward);
    report("fetch all pages backward", backward, rawForward);
    report("200 random jumps", jump, rawJump);
    std::printf("records walked per random jump: %.0f (pages / 3 expected)\n",
                double(walked) / kJumps);
    std::printf("resident memory: %ld KiB before, %ld after appending, %ld after fetching\n",
                rssBefore, rssAfterAppend, rssAfterFetch);
    return 0;
}
