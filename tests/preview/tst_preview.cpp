// The preview window and the preview operation on real tables: opening, pages arriving,
// status, navigation, zoom, closing during generation, nested previews through the payroll
// command, and the save, load and text actions of the window.

#include "Input.h"
#include "PreviewFixture.h"

#include "app/Unit1.h"
#include "preview/PreviewControl.h"
#include "preview/ProgressForm.h"
#include "preview/ReportPreview.h"
#include "preview/ReportPrint.h"
#include "report/PageStore.h"
#include "report/emf/EmfWriter.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtEndian>

using namespace lv26;
using namespace lv26::test;

namespace {

int roundEven(double x) {
    return report::roundHalfEven(x);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString raisedBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.message();
    }
    return {};
}

// The smallest rectangle holding every pixel of `image` that `match` accepts.
QRect boundsOf(const QImage& image, const std::function<bool(QRgb)>& match) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (match(line[x]))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

bool isRed(QRgb c) {
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}
bool isBlue(QRgb c) {
    return qBlue(c) > 200 && qRed(c) < 60 && qGreen(c) < 60;
}

// What the page image shows, as pixels.
QImage shownPage(TPreviewControl* preview) {
    return preview->image()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A page of A4 paper (210 x 297 mm) recorded at 96 pixels per inch, as a generation on an A4
// printer records it: a red square of 300 x 300 pixels at (100, 100).
QByteArray a4PageWithASquare() {
    EmfWriter writer;
    writer.beginPage(roundEven(2100 * 96 / 254.0), roundEven(2970 * 96 / 254.0), 96, 96);
    writer.fillRect({100, 100, 400, 400}, Qt::red);
    return writer.endPage();
}

// A drawing of 53 x 40 mm written by another program; its blue circle is round.
QByteArray foreignPage() {
    return readAll(QStringLiteral(LV26_TEST_DATA "/emf/shapes.emf"));
}

void writeReportFile(const QString& fileName, const QList<QByteArray>& pages) {
    TPageList list;
    for (const QByteArray& page : pages)
        list.appendPage(page);
    list.writeHeader();
    list.copyToFile(fileName);
}

void wirePayrollCommand() {
    previewPayroll = [] { PreviewReport(ListForm->Report1); };
    payrollReportBusy = [] { return ListForm->Report1.busy(); };
}

// Saves through the Save button's dialog as a person does: types `fileName` into the focused
// name field, opens the file-type list and steps `typeSteps` entries down to the wanted type,
// then presses Enter.
void saveThroughDialog(TPreviewForm* form, const QString& fileName, int typeSteps) {
    // The dialog is ready for typing once its own field has the focus.
    onceWhen(
        [] {
            QWidget* dialog = QApplication::activeModalWidget();
            QWidget* focused = QApplication::focusWidget();
            return qobject_cast<QFileDialog*>(dialog) && focused && focused->window() == dialog;
        },
        [fileName, typeSteps] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            typeText(fileName);
            clickAt(dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")));
            for (int i = 0; i < typeSteps; ++i)
                typeKey(Qt::Key_Down);
            typeKey(Qt::Key_Return); // picks the type and closes the list
            // The focus goes back to the dialog once the list has gone.
            QTRY_VERIFY(focusedWidget() && focusedWidget()->isVisible());
            typeKey(Qt::Key_Return); // Save
        });
    clickAt(form->findChild<QToolButton*>(QStringLiteral("Save")));
}

} // namespace

class TestPreview : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installFontSubstitutions(); }

    // ----- the window while pages arrive -----

    void opensMaximizedWorkingThenPage1AtPageWidth() {
        PreviewFixture f(70); // three pages
        QVERIFY(f.ok());
        f.dados().TotalHoras();
        bool checkedEarly = false;
        onceWhen([] { return openForm() != nullptr; },
                 [&] {
                     TPreviewForm* form = openForm();
                     checkedEarly = true;
                     QVERIFY(form->isVisible());
                     QVERIFY(form->windowState() & Qt::WindowMaximized);
                     QCOMPARE(form->statusText(), QStringLiteral("Working..."));
                     QVERIFY(!form->preview()->image()->hasPage());
                 });
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            TPreviewControl* preview = form->preview();
            QVERIFY(preview->image()->hasPage());
            QCOMPARE(preview->PageNumber(), 1);
            QCOMPARE(preview->mode(), TPreviewControl::ZoomMode::PageWidth);
            // Letter at 96 pixels per inch is 816 pixels wide at 100 %.
            QCOMPARE(preview->pageSizeAt100(), QSize(816, 1056));
            QCOMPARE(preview->Zoom(), roundEven(preview->viewport()->width() / 816.0 * 90));
            QCOMPARE(preview->image()->width(),
                     roundEven(2159 * preview->Zoom() / 100.0 * 96 / 254) + 4);
            QCOMPARE(form->statusText(), QStringLiteral("Page 1 of 3"));
            QVERIFY(!form->gauge()->isVisible());
            // For a person's look: LV26_SHOT_DIR=dir keeps a picture of the window.
            if (const QString shots = qEnvironmentVariable("LV26_SHOT_DIR"); !shots.isEmpty())
                form->grab().save(shots + QStringLiteral("/preview.png"));
        });
        QVERIFY(checkedEarly);
        QVERIFY(openPreviewForms().isEmpty());
    }

    void statusCountsThePageBeingDrawn() {
        PreviewFixture f(600);
        QVERIFY(f.ok());
        QString whileDrawing, expected;
        onceWhen([] { return formBusyWithPages(1); },
                 [&] {
                     TPreviewForm* form = openForm();
                     form->printer()->setProgressReceiver(nullptr); // hold the count still
                     QCoreApplication::processEvents();
                     form->printer()->setProgressReceiver(form->preview());
                     form->FirstPageClick();
                     whileDrawing = form->statusText();
                     expected = QStringLiteral("Page 1 of %1").arg(form->printer()->PageCount());
                     QCOMPARE(form->printer()->PageCount(), form->printer()->PagesCompleted() + 1);
                 });
        previewAndThen(f.report(), [](TPreviewForm*) {});
        QCOMPARE(whileDrawing, expected);
    }

    void navigationByButtonsAndKeys() {
        PreviewFixture f(70);
        QVERIFY(f.ok());
        previewAndThen(f.report(), [](TPreviewForm* form) {
            QVERIFY(QTest::qWaitForWindowActive(form));
            TPreviewControl* preview = form->preview();
            auto page = [&] { return preview->PageNumber(); };
            auto button = [&](const char* name) {
                return form->findChild<QToolButton*>(QLatin1String(name));
            };
            clickAt(button("PrevPage")); // on page 1: nothing changes
            QCOMPARE(page(), 1);
            QCOMPARE(form->statusText(), QStringLiteral("Page 1 of 3"));
            clickAt(button("NextPage"));
            QCOMPARE(page(), 2);
            QCOMPARE(form->statusText(), QStringLiteral("Page 2 of 3"));
            clickAt(button("LastPage"));
            clickAt(button("NextPage")); // on the last page: nothing changes
            QCOMPARE(page(), 3);
            QVERIFY(preview->image()->hasPage());

            typeKey(Qt::Key_Home);
            QCOMPARE(page(), 1);
            typeKey(Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(page(), 2); // Ctrl is not the only modifier: next page only
            typeKey(Qt::Key_PageUp, Qt::ControlModifier);
            QCOMPARE(page(), 1);
            typeKey(Qt::Key_PageDown, Qt::ControlModifier);
            QCOMPARE(page(), 3);
            typeKey(Qt::Key_PageUp);
            QCOMPARE(page(), 2);
            typeKey(Qt::Key_End);
            QCOMPARE(page(), 3);
            QCOMPARE(form->statusText(), QStringLiteral("Page 3 of 3"));
            typeKey(Qt::Key_Escape); // presses Close
            QVERIFY(!form->isOpen());
        });
        QVERIFY(openPreviewForms().isEmpty());
    }

    // The focus can be on Close (where it is when the window opens), stay there after a
    // click on a tool button or on the page (neither takes it), or be on no control at all.
    // Wherever it is, one press of a navigation key moves one step.
    void eachKeyPressMovesOnceWhereverTheFocusIs_data() {
        QTest::addColumn<QString>("focusBy");
        QTest::addColumn<QString>("focusOn"); // the widget the keys then reach first
        const QString close = QStringLiteral("Exit"), window = QStringLiteral("PreviewForm");
        QTest::newRow("Close, as the window opens") << QString() << close;
        QTest::newRow("after a click on Next page") << QStringLiteral("NextPage") << close;
        QTest::newRow("after a click on Zoom to fit") << QStringLiteral("ZoomToFit") << close;
        QTest::newRow("after a click on the page") << QStringLiteral("page") << close;
        QTest::newRow("after a click on the scroll bar") << QStringLiteral("scroll bar") << close;
        QTest::newRow("after Tab") << QStringLiteral("tab") << close;
        QTest::newRow("on no control") << QStringLiteral("none") << window;
    }
    void eachKeyPressMovesOnceWhereverTheFocusIs() {
        QFETCH(QString, focusBy);
        QFETCH(QString, focusOn);
        PreviewFixture f(300); // ten pages
        QVERIFY(f.ok());
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            QVERIFY(QTest::qWaitForWindowActive(form));
            TPreviewControl* preview = form->preview();
            QCOMPARE(form->printer()->PageCount(), 10);
            if (focusBy == QLatin1String("page"))
                clickAt(preview->image());
            else if (focusBy == QLatin1String("scroll bar"))
                clickAt(preview->verticalScrollBar());
            else if (focusBy == QLatin1String("tab"))
                typeKey(Qt::Key_Tab);
            else if (focusBy == QLatin1String("none"))
                QApplication::focusWidget()->clearFocus();
            else if (!focusBy.isEmpty())
                clickAt(form->findChild<QToolButton*>(focusBy));
            QWidget* focused = focusedWidget();
            QVERIFY(focused && focused->window() == form);
            QCOMPARE(focused->objectName(), focusOn);

            struct Step {
                Qt::Key key;
                Qt::KeyboardModifiers mods;
                int page;
            };
            const Step steps[] = {
                {Qt::Key_Home, Qt::NoModifier, 1},
                {Qt::Key_PageDown, Qt::NoModifier, 2},
                {Qt::Key_PageDown, Qt::NoModifier, 3},
                {Qt::Key_PageUp, Qt::NoModifier, 2},
                {Qt::Key_PageDown, Qt::ControlModifier, 10},
                {Qt::Key_PageUp, Qt::NoModifier, 9},
                {Qt::Key_PageUp, Qt::ControlModifier, 1},
                {Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier, 2},
                {Qt::Key_End, Qt::NoModifier, 10},
                {Qt::Key_PageUp, Qt::ShiftModifier, 9},
                {Qt::Key_Home, Qt::NoModifier, 1},
            };
            for (const Step& step : steps) {
                const QString context = QKeySequence(step.key | step.mods).toString();
                typeKey(step.key, step.mods);
                QVERIFY2(preview->PageNumber() == step.page,
                         qPrintable(context + QStringLiteral(": page %1, expected %2")
                                                  .arg(preview->PageNumber())
                                                  .arg(step.page)));
                QCOMPARE(form->statusText(), QStringLiteral("Page %1 of 10").arg(step.page));
                QVERIFY(preview->image()->hasPage());
            }
            QCOMPARE(focusedWidget(), focused); // no key moved the focus
            typeKey(Qt::Key_Escape);            // presses Close
            QVERIFY(!form->isOpen());
        });
        QVERIFY(openPreviewForms().isEmpty());
    }

    void lastPageDuringGenerationWaitsForThatPage() {
        PreviewFixture f(300);
        QVERIFY(f.ok());
        int target = 0, completedThen = 0;
        bool emptyWhileDrawn = false;
        onceWhen([] { return formBusyWithPages(1); },
                 [&] {
                     TPreviewForm* form = openForm();
                     form->LastPageClick();
                     target = form->preview()->PageNumber();
                     completedThen = form->printer()->PagesCompleted();
                     emptyWhileDrawn = !form->preview()->image()->hasPage();
                 });
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            QCOMPARE(form->preview()->PageNumber(), target);
            QVERIFY(form->preview()->image()->hasPage());
        });
        QCOMPARE(target, completedThen + 1);
        QVERIFY(emptyWhileDrawn);
    }

    // ----- zoom -----

    void zoomFormulasAndResize() {
        TReportPrinter printer(letterPrinter()); // paper A4 until a generation selects one
        TPreviewControl control;
        control.resize(600, 500);
        control.show();
        control.attach(&printer);
        const QSize page = control.pageSizeAt100();
        QCOMPARE(page, QSize(roundEven(2100 * 96 / 254.0), roundEven(2970 * 96 / 254.0)));
        auto expectedFit = [&] {
            const QSize c = control.viewport()->size();
            return qMin(roundEven(double(c.width()) / page.width() * 95),
                        roundEven(double(c.height()) / page.height() * 95));
        };
        control.zoomToFit();
        QCOMPARE(control.Zoom(), expectedFit());
        QCOMPARE(control.mode(), TPreviewControl::ZoomMode::Fit);
        control.resize(900, 400);
        QCOMPARE(control.Zoom(), expectedFit()); // fit mode follows the size

        control.zoomToWidth();
        const int imageWidth = control.image()->width();
        QCOMPARE(imageWidth, roundEven(2100 * control.Zoom() / 100.0 * 96 / 254) + 4);
        QCOMPARE(control.image()->x(), (control.viewport()->width() - imageWidth) / 2);

        control.setZoom(100);
        QCOMPARE(control.mode(), TPreviewControl::ZoomMode::Fixed);
        control.resize(1200, 1300);
        QCOMPARE(control.Zoom(), 100); // only re-centred
        QCOMPARE(control.image()->x(),
                 (control.viewport()->width() - control.image()->width()) / 2);

        control.setZoom(1); // outside 2..2000: ignored
        control.setZoom(2001);
        QCOMPARE(control.Zoom(), 100);

        // Too small for any zoom of 2 or more: the zoom stays, the mode still changes.
        control.resize(6, 6);
        control.zoomToWidth();
        QCOMPARE(control.Zoom(), 100);
        QCOMPARE(control.mode(), TPreviewControl::ZoomMode::PageWidth);
        control.zoomToFit();
        QCOMPARE(control.Zoom(), 100);
        QCOMPARE(control.mode(), TPreviewControl::ZoomMode::Fit);
        control.detach();
        QVERIFY(!printer.ShowingPreview);
    }

    // A report file whose pages are not of the report's Letter paper: an A4 page of ours and
    // a drawing from another program. Each is laid out at its own size (its picture frame),
    // and the zoom buttons measure the page shown.
    void pagesOfAnotherSizeKeepTheirOwnAspect() {
        PreviewFixture f(5);
        QVERIFY(f.ok());
        const QString file = f.path(QStringLiteral("sizes.QRP"));
        writeReportFile(file, {a4PageWithASquare(), foreignPage()});
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            QVERIFY(QTest::qWaitForWindowActive(form));
            TPreviewControl* preview = form->preview();
            QCOMPARE(preview->pageSizeAt100(), QSize(816, 1056)); // the report's own Letter
            form->loadReportFile(file);
            auto button = [&](const char* name) {
                return form->findChild<QToolButton*>(QLatin1String(name));
            };
            auto pageWidthZoom = [&](int pageWidth) {
                return roundEven(double(preview->viewport()->width()) / pageWidth * 90);
            };

            // A4 at 96 pixels per inch is 794 x 1123 pixels at 100 %.
            QCOMPARE(preview->pageSizeAt100(), QSize(794, 1123));
            QCOMPARE(preview->mode(), TPreviewControl::ZoomMode::PageWidth);
            QCOMPARE(preview->Zoom(), pageWidthZoom(794));
            const QSize a4Image = preview->image()->size() - QSize(4, 4);
            QVERIFY2(
                qAbs(a4Image.width() * 2970.0 / 2100 - a4Image.height()) <= 1,
                qPrintable(QStringLiteral("%1 x %2").arg(a4Image.width()).arg(a4Image.height())));
            const QRect square = boundsOf(shownPage(preview), isRed);
            QVERIFY2(qAbs(square.width() - square.height()) <= 1,
                     qPrintable(QStringLiteral("square drawn %1 x %2")
                                    .arg(square.width())
                                    .arg(square.height())));

            // The drawing's frame is 52.99 x 39.99 mm: 200 x 151 pixels at 100 %.
            clickAt(button("NextPage"));
            QCOMPARE(preview->PageNumber(), 2);
            QCOMPARE(preview->pageSizeAt100(), QSize(200, 151));
            QCOMPARE(preview->Zoom(), pageWidthZoom(200));
            const QRect circle = boundsOf(shownPage(preview), isBlue);
            QVERIFY(circle.width() > 100);
            QVERIFY2(qAbs(circle.width() - circle.height()) <= circle.width() / 50,
                     qPrintable(QStringLiteral("circle drawn %1 x %2")
                                    .arg(circle.width())
                                    .arg(circle.height())));

            clickAt(button("ZoomTo100"));
            QCOMPARE(preview->image()->size(), QSize(204, 155));
            clickAt(button("ZoomToFit"));
            const QSize client = preview->viewport()->size();
            QCOMPARE(preview->Zoom(), qMin(roundEven(client.width() / 200.0 * 95),
                                           roundEven(client.height() / 151.0 * 95)));
            QCOMPARE(preview->mode(), TPreviewControl::ZoomMode::Fit);

            typeKey(Qt::Key_Home); // back to A4, still fitted
            QCOMPARE(preview->pageSizeAt100(), QSize(794, 1123));
            QCOMPARE(preview->Zoom(), qMin(roundEven(client.width() / 794.0 * 95),
                                           roundEven(client.height() / 1123.0 * 95)));
        });
    }

    // A frame no page can have, in a file from anywhere: the page is laid out on the
    // report's paper (A4 here) and drawn without harm.
    void absurdPageFramesFallBackToThePaper_data() {
        QTest::addColumn<QList<int>>("frame"); // left, top, right, bottom in 0.01 mm
        QTest::newRow("empty") << QList<int>{0, 0, 0, 0};
        QTest::newRow("inverted") << QList<int>{5000, 4000, 0, 0};
        QTest::newRow("a hundredth of a millimetre") << QList<int>{0, 0, 1, 1};
        QTest::newRow("21 km wide") << QList<int>{0, 0, INT_MAX, 3000};
        QTest::newRow("whole integer range") << QList<int>{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
        QTest::newRow("one side absurd") << QList<int>{0, 0, 20000, -20000};
    }
    void absurdPageFramesFallBackToThePaper() {
        QFETCH(QList<int>, frame);
        QTemporaryDir dir;
        EmfWriter writer;
        writer.beginPage(400, 300, 96, 96);
        writer.fillRect({10, 10, 110, 110}, Qt::red);
        QByteArray page = writer.endPage();
        for (int i = 0; i < 4; ++i)
            qToLittleEndian<qint32>(frame[i], page.data() + 24 + 4 * i);
        const QString file = dir.filePath(QStringLiteral("frame.QRP"));
        writeReportFile(file, {page});

        TReportPrinter printer(letterPrinter()); // paper A4 until a generation selects one
        printer.Load(file);
        TPreviewControl control;
        control.resize(600, 500);
        control.show();
        control.attach(&printer);
        QVERIFY(control.image()->hasPage());
        control.zoomToWidth();
        QCOMPARE(control.pageSizeAt100(), QSize(794, 1123));
        QCOMPARE(control.image()->width(), roundEven(2100 * control.Zoom() / 100.0 * 96 / 254) + 4);
        for (int zoom : {2, 100, 2000}) {
            control.setZoom(zoom);
            QVERIFY(!control.image()->grab(QRect(0, 0, 200, 200)).isNull());
        }
        control.detach();
    }

    // ----- closing -----

    void closingDuringGenerationStopsItAndRemovesTheTemporaryFile() {
        PreviewFixture f(1500); // about 50 pages: the page store moves to a temporary file
        QVERIFY(f.ok());
        QString tempFile, rowAtClose;
        int pagesAtClose = 0;
        onceWhen(
            [] {
                TPreviewForm* form = openForm();
                return form && form->printer()->pageList() &&
                       form->printer()->pageList()->stream().storage() ==
                           TPageStream::Storage::TemporaryFile;
            },
            [&] {
                TPreviewForm* form = openForm();
                tempFile = form->printer()->pageList()->stream().fileName();
                pagesAtClose = form->printer()->PageCount();
                rowAtClose = f.currentMatricula();
                QVERIFY(QFile::exists(tempFile));
                form->ExitClick();
            });
        PreviewReport(f.report());
        QVERIFY(!tempFile.isEmpty());
        QVERIFY(pagesAtClose < 50);
        QCOMPARE(f.currentMatricula(), rowAtClose); // no row read after the close
        QVERIFY(!QFile::exists(tempFile));
        QVERIFY(!f.report().busy());
        QVERIFY(currentReportPrinter(f.report()) == nullptr);
    }

    void closingBeforeTheGenerationBeginsSkipsIt() {
        PreviewFixture f(120);
        QVERIFY(f.ok());
        const QString firstRow = f.currentMatricula();
        bool closed = false;
        // Runs in the dispatch right after the window is shown, before the first row.
        QTimer::singleShot(0, [&closed] {
            if (TPreviewForm* form = openForm()) {
                form->ExitClick();
                closed = true;
            }
        });
        PreviewReport(f.report());
        QVERIFY(closed);
        QCOMPARE(f.currentMatricula(), firstRow); // not one row read
        QVERIFY(openPreviewForms().isEmpty());
        QVERIFY(!f.report().busy());
        QVERIFY(currentReportPrinter(f.report()) == nullptr);
    }

    // ----- the payroll command -----

    void secondPressWithFinishedPreviewOpensSecondWindow() {
        PreviewFixture f(40);
        QVERIFY(f.ok());
        wirePayrollCommand();
        TForm1 form1;
        TPreviewForm *first = nullptr, *second = nullptr;
        int openDuringSecond = 0;
        bool firstOpenAfterSecond = false;
        onceWhen(formFinished, [&] {
            first = openForm();
            onceWhen([&] { return formFinished() && openForm() != first; },
                     [&] {
                         second = openForm();
                         openDuringSecond = openPreviewForms().size();
                         second->close();
                     });
            form1.BitBtn3Click(); // nested: returns when the second window closes
            firstOpenAfterSecond = first->isOpen();
            first->close();
        });
        form1.BitBtn3Click();
        QVERIFY(first && second && first != second);
        QCOMPARE(openDuringSecond, 2);
        QVERIFY(firstOpenAfterSecond);
        QVERIFY(openPreviewForms().isEmpty());
    }

    void pressDuringGenerationOpensNothingAndKeepsTheRow() {
        PreviewFixture f(120);
        QVERIFY(f.ok());
        wirePayrollCommand();
        TForm1 form1;
        int formsAfterPress = 0;
        QString rowBefore, rowAfter;
        onceWhen([] { return formBusyWithPages(1); },
                 [&] {
                     rowBefore = f.currentMatricula();
                     form1.BitBtn3Click(); // returns at once
                     rowAfter = f.currentMatricula();
                     formsAfterPress = openPreviewForms().size();
                 });
        previewAndThen(f.report(), [](TPreviewForm*) {});
        QCOMPARE(formsAfterPress, 1);
        QCOMPARE(rowAfter, rowBefore);
    }

    // ----- save, load and text -----

    void saveWhileGeneratingWritesNothing() {
        PreviewFixture f(120);
        QVERIFY(f.ok());
        const QString file = f.path(QStringLiteral("early.QRP"));
        onceWhen([] { return formBusyWithPages(1); }, [&] { openForm()->saveReportFile(file); });
        previewAndThen(f.report(), [](TPreviewForm*) {});
        QVERIFY(!QFile::exists(file));
    }

    void saveLoadSaveGivesIdenticalFiles() {
        PreviewFixture f(70);
        QVERIFY(f.ok());
        const QString a = f.path(QStringLiteral("a.QRP")), b = f.path(QStringLiteral("b.QRP"));
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(a);
            form->NextPageClick();
            form->loadReportFile(a);
            QCOMPARE(form->preview()->PageNumber(), 1);
            QVERIFY(form->preview()->image()->hasPage());
            QCOMPARE(form->statusText(), QStringLiteral("Page 1 of 3"));
            QVERIFY(!form->actions().print && !form->actions().exportText);
            form->saveReportFile(b);
            // Saving as text does nothing once the window has no export action.
            form->saveTextFile(f.path(QStringLiteral("none.TXT")));
        });
        const QByteArray bytes = readAll(a);
        QCOMPARE(qFromLittleEndian<qint32>(bytes.constData() + 8), 3);
        QCOMPARE(readAll(b), bytes);
        QVERIFY(!QFile::exists(f.path(QStringLiteral("none.TXT"))));
    }

    void loadDuringGenerationStopsIt() {
        PreviewFixture f(300);
        QVERIFY(f.ok());
        const QString saved = f.path(QStringLiteral("saved.QRP"));
        previewAndThen(f.report(), [&](TPreviewForm* form) { form->saveReportFile(saved); });
        QString rowAtLoad;
        int pagesAfterLoad = 0;
        onceWhen([] { return formBusyWithPages(1); },
                 [&] {
                     TPreviewForm* form = openForm();
                     form->loadReportFile(saved);
                     rowAtLoad = f.currentMatricula();
                     pagesAfterLoad = form->printer()->PageCount();
                     QCOMPARE(form->printer()->Status(), TPrinterStatus::Finished);
                     onceWhen([] { return !ListForm->Report1.busy(); },
                              [] {
                                  if (TPreviewForm* form = openForm())
                                      form->close();
                              });
                 });
        PreviewReport(f.report());
        QCOMPARE(pagesAfterLoad, 10); // 300 rows: 29 + 9 x 31 = 308 >= 300
        QCOMPARE(f.currentMatricula(), rowAtLoad);
    }

    void damagedAndForeignFiles() {
        PreviewFixture f(40);
        QVERIFY(f.ok());
        const QString good = f.path(QStringLiteral("good.QRP"));
        const QString damaged = f.path(QStringLiteral("damaged.QRP"));
        const QString foreign = f.path(QStringLiteral("foreign.QRP"));
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(good);
            QByteArray bytes = readAll(good);
            bytes[124 + 8 + 40] = 'X'; // page 1's metafile signature
            QFile out(damaged);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
            out.close();
            QFile text(foreign);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("just some text, not a report\n");
            text.close();

            QCOMPARE(raisedBy([&] { form->loadReportFile(f.path(QStringLiteral("nope.QRP"))); }),
                     QStringLiteral("File does not exist"));
            QVERIFY(form->preview()->image()->hasPage()); // unchanged
            QCOMPARE(raisedBy([&] { form->loadReportFile(damaged); }),
                     QStringLiteral("Metafile is not valid"));
            QVERIFY(!form->preview()->image()->hasPage());
            QCOMPARE(form->printer()->PageCount(), 2);
            form->NextPageClick(); // the other page can still be shown
            QVERIFY(form->preview()->image()->hasPage());
            QVERIFY(!raisedBy([&] { form->loadReportFile(foreign); }).isEmpty());
            QVERIFY(!form->preview()->image()->hasPage());
            form->loadReportFile(good); // and the window still loads a good file
            QVERIFY(form->preview()->image()->hasPage());
        });
    }

    void saveToAnUncreatableFileRaisesItsMessage() {
        PreviewFixture f(5);
        QVERIFY(f.ok());
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            QCOMPARE(
                raisedBy([&] { form->saveReportFile(f.path(QStringLiteral("no/dir/x.QRP"))); }),
                QStringLiteral("Cannot create file %1")
                    .arg(f.path(QStringLiteral("no/dir/x.QRP"))));
        });
    }

    void textExportWritesTheListing() {
        PreviewFixture f(3);
        QVERIFY(f.ok());
        const QString file = f.path(QStringLiteral("listing.TXT"));
        previewAndThen(f.report(), [&](TPreviewForm* form) { form->saveTextFile(file); });
        const QStringList lines =
            QString::fromLocal8Bit(readAll(file)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6); // title, headings, three employees, footer
        QCOMPARE(lines[0].indexOf(QStringLiteral("Folha de Pagamento")), 34);
        QVERIFY(lines[5].contains(QStringLiteral("Impresso em")));
        QVERIFY(lines[5].contains(QStringLiteral("Página")));
        QVERIFY(!f.report().exporting());
        QVERIFY(!f.report().busy());
    }

    // By the progress window's Cancel, or by the report's own cancel (closing the main window).
    void cancellingATextExportKeepsTheFinishedPages_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("progress window's Cancel") << true;
        QTest::newRow("report cancelled") << false;
    }

    void cancellingATextExportKeepsTheFinishedPages() {
        QFETCH(bool, byButton);
        PreviewFixture f(400);
        QVERIFY(f.ok());
        const QString file = f.path(QStringLiteral("cut.TXT"));
        const QString full = f.path(QStringLiteral("full.TXT"));
        QString infoText;
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveTextFile(full);
            onceWhen(
                [] {
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (auto* p = qobject_cast<TProgressForm*>(w); p && p->bar()->value() >= 50)
                            return true;
                    return false;
                },
                [&] {
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (auto* p = qobject_cast<TProgressForm*>(w)) {
                            infoText = p->Info()->text();
                            QCOMPARE(p->windowTitle(), QStringLiteral("Printing progress"));
                            if (byButton)
                                p->CancelButton()->click();
                            else
                                CancelReport(f.report());
                        }
                });
            form->saveTextFile(file);
            // The preview's own object is the report's current one again.
            QCOMPARE(currentReportPrinter(f.report()), form->printer());
        });
        const int cutLines = readAll(file).count('\n');
        const int fullLines = readAll(full).count('\n');
        QVERIFY(cutLines > 0);
        QVERIFY(cutLines < fullLines);
        QVERIFY(infoText.endsWith(QStringLiteral("%  Completed")));
        QVERIFY(!f.report().busy());
    }

    // ----- Save as PDF and CSV -----

    void saveDialogWritesPdfAndCsv_data() {
        QTest::addColumn<int>("typeSteps");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("start");
        // The types in the dialog's order: report file, text, PDF, CSV.
        QTest::newRow("PDF") << 2 << "listing.pdf" << QByteArray("%PDF-");
        QTest::newRow("CSV") << 3 << "month.csv"
                             << QByteArray("Matricula,Nome,CPF,Sexo,Sal_Hora,HorasNoMes,"
                                           "SalarioMensal\n00001,");
    }
    void saveDialogWritesPdfAndCsv() {
        QFETCH(int, typeSteps);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, start);
        PreviewFixture f(40);
        QVERIFY(f.ok());
        const QString file = f.path(fileName);
        previewAndThen(f.report(),
                       [&](TPreviewForm* form) { saveThroughDialog(form, file, typeSteps); });
        QVERIFY2(readAll(file).startsWith(start),
                 qPrintable(QString::fromLatin1(readAll(file).left(80))));
    }

    void pdfAskedForWhilePagesComeWaitsForTheLastOne_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("waits, then writes") << false;
        QTest::newRow("cancelled, writes nothing") << true;
    }
    void pdfAskedForWhilePagesComeWaitsForTheLastOne() {
        QFETCH(bool, cancel);
        PreviewFixture f(3000);
        QVERIFY(f.ok());
        const QString file = f.path(QStringLiteral("listing.pdf"));
        bool waited = false;
        int pagesWhenWritten = 0, pagesAtEnd = -1;
        onceWhen([] { return formBusyWithPages(1); },
                 [&] {
                     TPreviewForm* form = openForm();
                     saveThroughDialog(form, file, 2);
                     waited = form->pdfWaitWindow() && form->pdfWaitWindow()->isVisible() &&
                              !QFile::exists(file);
                     if (cancel)
                         clickAt(form->pdfWaitWindow()->findChild<QPushButton*>());
                     onceWhen([&, form] { return QFile::exists(file) || !form->pdfWaitWindow(); },
                              [&, form] {
                                  if (QFile::exists(file))
                                      pagesWhenWritten = form->printer()->PagesCompleted();
                              });
                     onceWhen([] { return formFinished(); },
                              [&] {
                                  pagesAtEnd = openForm()->printer()->PageCount();
                                  onceWhen([&] { return !openForm()->pdfWaitWindow(); },
                                           [] { openForm()->close(); });
                              });
                 });
        PreviewReport(f.report());
        QVERIFY(waited);
        QVERIFY(pagesAtEnd > 1);
        if (cancel) {
            QVERIFY(!QFile::exists(file));
        } else {
            QCOMPARE(pagesWhenWritten, pagesAtEnd); // written after the last page, not before
            QVERIFY(readAll(file).startsWith("%PDF-"));
        }
    }

    void noPrinterLeavesPrintAndSetupInert() {
        PreviewFixture f(5);
        QVERIFY(f.ok());
        TReportPrinter::setDefaultPrinterQuery([] { return PrinterInfo{}; });
        previewAndThen(f.report(), [](TPreviewForm* form) {
            QVERIFY(!form->printer()->printer().available);
            if (!printersInstalled()) {
                form->PrintClick();
                form->PrintSetupClick();
            }
            QVERIFY(form->isOpen());
            QVERIFY(form->preview()->image()->hasPage());
        });
    }

    // Last: the request to end the application stays in force for the rest of the run.
    void endingTheApplicationClosesTheWindowBeforeReturning() {
        PreviewFixture f(40);
        QVERIFY(f.ok());
        QPointer<TPreviewForm> form;
        onceWhen(formFinished, [&] {
            form = openForm();
            QCoreApplication::exit(0);
        });
        PreviewReport(f.report());
        QVERIFY(form.isNull()); // closed and freed
        QVERIFY(currentReportPrinter(f.report()) == nullptr);
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
