// Plays one full page of the payroll listing (32 employees) onto an image as the preview
// shows it at 100 % and at 400 %: milliseconds per page, the median of many runs. Baseline:
// copying a page already drawn at the same size onto the image, measured in the same run.
//
// Usage: bench_Play [runs]   (default 200)

#include "EmployeeTables.h"
#include "data/Fonts.h"
#include "data/Unit3.h"
#include "report/LISTUnit.h"
#include "report/ReportPrinter.h"
#include "report/emf/EmfPlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace lv26;

namespace {

// Page 1 of the listing of 40 employees.
QByteArray firstPage() {
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    bench::fillEmployees(dir.path(), 40, QStringLiteral("Funcionário Número %1 da Conceição"));
    QDir::setCurrent(dir.path());
    QByteArray page;
    {
        TDados dados;
        TListForm form(dados.Table1);
        PrinterInfo letter;
        letter.available = true;
        letter.paperSizes = {TPaperSize::Letter};
        TReportPrinter printer(letter);
        form.Report1.Generate(printer);
        page = printer.fetchPage(1).value_or(QByteArray());
    }
    QDir::setCurrent(old);
    return page;
}

// Median milliseconds of `runs` calls of `draw`.
double medianMs(int runs, const std::function<void()>& draw) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        draw();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

void measure(const QByteArray& page, int zoom, int runs) {
    const QRectF frame = readEmfHeader(page)->framePx();
    const QSize size = (frame.size() * zoom / 100.0).toSize();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    const auto play = [&] {
        image.fill(Qt::white);
        QPainter painter(&image);
        playEmf(page, painter, QRectF(QPointF(0, 0), size));
    };
    play();
    const QImage drawn = image.copy();
    const double ms = medianMs(runs, play);
    const double baseline = medianMs(runs, [&] {
        QPainter painter(&image);
        painter.drawImage(0, 0, drawn);
    });
    std::printf("play one page at %3d%% (%dx%d): %7.2f ms; baseline copy %6.2f ms, ratio %6.1f\n",
                zoom, size.width(), size.height(), ms, baseline,
                baseline > 0 ? ms / baseline : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    installFontSubstitutions();
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const QByteArray page = firstPage();
    if (page.isEmpty()) {
        std::fprintf(stderr, "no page was generated\n");
        return 1;
    }
    measure(page, 100, runs);
    measure(page, 400, std::max(1, runs / 4));
    return 0;
}
