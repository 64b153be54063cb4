// Appends 3226 pages to a page store and fetches them forward, backward and by jumps.
// Baseline: the same bytes written and read with plain file calls in the same run.
// Memory: resident set size before and after; the store keeps at most 100000 bytes itself.
// Scale: a random fetch in a store of 3226 pages against one of 32000, appended and loaded.
// Usage: bench_PageStore [RUNS]  (repetitions of the scale figures, default 3).

#include "report/PageStore.h"

#include "ResidentMemory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// Milliseconds per fetch of `jumps` random pages of `store`, each jump measured after a
// first pass over the same pages (a loaded file learns its records as it walks them).
double msPerRandomFetch(lv26::TPageList& store, int jumps) {
    QList<int> pages;
    for (int i = 0; i < jumps; ++i)
        pages.append(1 + QRandomGenerator::global()->bounded(store.pageCount()));
    QElapsedTimer timer;
    timer.start();
    for (int n : pages)
        store.fetchPage(n);
    const double first = ms(timer);
    timer.restart();
    for (int n : pages)
        store.fetchPage(n);
    std::printf("    %d pages: %d random fetches %.2f ms the first time, %.2f ms again\n",
                store.pageCount(), jumps, first, ms(timer));
    return ms(timer) / jumps;
}

// Returns the cost of a random fetch in stores of `pages` pages: appended and then loaded.
struct ScaleFigures {
    double appended = 0;
    double loaded = 0;
};

ScaleFigures measureScale(const QList<QByteArray>& pictures, int pages, const QString& file) {
    ScaleFigures figures;
    {
        lv26::TPageList store;
        for (int n = 1; n <= pages; ++n)
            store.appendPage(pictures[n % 8]);
        store.writeHeader();
        figures.appended = msPerRandomFetch(store, 1000);
        store.copyToFile(file);
    }
    auto loaded = lv26::TPageList::openFile(file);
    figures.loaded = msPerRandomFetch(*loaded, 1000);
    loaded.reset();
    QFile::remove(file);
    return figures;
}

void reportScale(const QList<QByteArray>& pictures, int runs) {
    const QString file = QStringLiteral("bench_PageStore.qrp");
    std::printf("random fetch at scale (best of %d; each: 1000 fetches, then the same again)\n",
                runs);
    ScaleFigures small{1e9, 1e9}, large{1e9, 1e9};
    for (int run = 0; run < runs; ++run) {
        const ScaleFigures s = measureScale(pictures, kPages, file);
        const ScaleFigures l = measureScale(pictures, 10 * kPages - 260, file);
        small = {std::min(small.appended, s.appended), std::min(small.loaded, s.loaded)};
        large = {std::min(large.appended, l.appended), std::min(large.loaded, l.loaded)};
    }
    std::printf("fetch one random page, appended    %9.4f ms at %d   %9.4f ms at 32000   ratio "
                "%6.2f\n",
                small.appended, kPages, large.appended, large.appended / small.appended);
    std::printf("fetch one random page, loaded file %9.4f ms at %d   %9.4f ms at 32000   ratio "
                "%6.2f\n",
                small.loaded, kPages, large.loaded, large.loaded / small.loaded);
}

} // namespace

int main(int argc, char** argv) {
    const int scaleRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
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
    std::printf("records walked per random jump: %.0f (0 expected: appended records are known)\n",
                double(walked) / kJumps);
    std::printf("resident memory: %ld KiB before, %ld after appending, %ld after fetching\n",
                rssBefore, rssAfterAppend, rssAfterFetch);
    reportScale(pictures, scaleRuns);
    return 0;
}
