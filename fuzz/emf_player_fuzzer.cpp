// Plays the input as an enhanced metafile onto a small image: it must be refused or drawn,
// never crash, hang or read outside the input.
// Seeds: tests/testdata/emf/*.emf and the pages our writer makes when LV26_FUZZ_WRITE_SEEDS
// names a directory (the program then writes them there and exits).

#include "report/emf/EmfPlayer.h"
#include "report/emf/EmfWriter.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdlib>

namespace {

using lv26::EmfFont;
using lv26::EmfWriter;

void save(const QString& dir, const QString& name, const QByteArray& bytes) {
    QFile f(QDir(dir).filePath(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// Small pages covering every record the writer makes.
void writeSeeds(const QString& dir) {
    QDir().mkpath(dir);
    EmfWriter w;
    w.beginPage(120, 80, 96, 96, QStringLiteral("Lv26"));
    w.fillRect({2, 2, 118, 20}, Qt::white);
    w.setFont({QStringLiteral("Arial"), 12, true});
    w.textOut(60, 4, QStringLiteral("Folha de Pagamento"), Qt::AlignHCenter | Qt::AlignTop);
    w.frameRect({2, 22, 60, 34}, Qt::BottomEdge, Qt::black, 1, 1);
    save(dir, QStringLiteral("title.emf"), w.endPage());

    w.beginPage(120, 80, 96, 96);
    w.setFont({QStringLiteral("Arial"), 9, false, true, true});
    w.setTextColor(Qt::blue);
    w.textOut(118, 70, QStringLiteral("Página 12"), Qt::AlignRight | Qt::AlignBaseline,
              lv26::EmfRect{60, 60, 120, 80});
    w.line(2, 50, 118, 50, Qt::black);
    w.line(2, 55, 60, 75, Qt::red, 3);
    save(dir, QStringLiteral("footer.emf"), w.endPage());

    w.beginPage(40, 30, 300, 300);
    w.fillRect({0, 0, 40, 30}, Qt::green);
    save(dir, QStringLiteral("fill.emf"), w.endPage());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "emf_player_fuzzer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    Q_UNUSED(app);
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    if (const char* dir = std::getenv("LV26_FUZZ_WRITE_SEEDS")) {
        writeSeeds(QString::fromLocal8Bit(dir));
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    try {
        lv26::playEmf(bytes, painter, QRectF(0, 0, 64, 48));
    } catch (const lv26::Error&) {
        // refused: the expected outcome for most inputs
    }
    return 0;
}
