// The preview window's find bar, used with the keys where the focus is: Ctrl+F, typing,
// Enter, F3, Shift+F3 and Esc, over the payroll listing's pages, a loaded report file and a
// preview still generating.

#include "Input.h"
#include "PreviewFixture.h"

#include "preview/FindBar.h"
#include "preview/PreviewControl.h"
#include "report/emf/EmfTextSearch.h"

#include <QLineEdit>
#include <QScrollBar>
#include <map>
#include <set>

using namespace lv26;
using namespace lv26::test;

namespace {

// The names on each page of the form's report, by page.
std::map<int, QStringList> namesByPage(TPreviewForm* form) {
    std::map<int, QStringList> names;
    for (int n = 1; n <= form->printer()->PageCount(); ++n) {
        for (const EmfTextRun& run : emfTextRuns(*form->printer()->fetchPage(n))) {
            // Employee names: letters and spaces, starting with a capital, not a heading.
            const bool name = run.text.size() > 3 && run.text[0].isUpper() &&
                              run.text[1].isLower() &&
                              std::all_of(run.text.begin(), run.text.end(),
                                          [](QChar c) { return c.isLetter() || c == u' '; });
            if (name)
                names[n] << run.text;
        }
    }
    return names;
}

// A name that is on page `page` and on no other page (compared as a search compares).
QString nameOnlyOn(const std::map<int, QStringList>& names, int page,
                   const std::function<bool(const QString&)>& also = {}) {
    for (const QString& candidate : names.at(page)) {
        if (also && !also(candidate))
            continue;
        const QString folded = foldedForSearch(candidate);
        bool elsewhere = false;
        for (const auto& [n, list] : names) {
            for (const QString& other : list)
                elsewhere = elsewhere || (n != page && foldedForSearch(other).contains(folded));
        }
        if (!elsewhere)
            return candidate;
    }
    return {};
}

// Ctrl+F where the focus is, then the text typed into the bar (replacing what it held).
void findText(const QString& text) {
    typeKey(Qt::Key_F, Qt::ControlModifier);
    typeText(text);
    typeKey(Qt::Key_Return);
}

// The first outline lies within the visible part of the preview.
bool outlineInView(TPreviewControl* preview) {
    const auto& boxes = preview->image()->highlights();
    const std::optional<QRectF> area =
        boxes.empty() ? std::nullopt : preview->image()->imageArea(boxes.front());
    if (!area)
        return false;
    const QRect shown(preview->image()->mapTo(preview->viewport(), area->topLeft().toPoint()),
                      area->size().toSize());
    return preview->viewport()->rect().contains(shown);
}

bool outlinesHold(TPreviewControl* preview, const QString& text) {
    const std::vector<QRectF> expected =
        findInEmf(*preview->printer()->fetchPage(preview->PageNumber()), text);
    return !expected.empty() && preview->image()->highlights() == expected;
}

// Typed with plain keys: letters without accents and spaces.
bool isPlain(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
}

QString withoutAccents(const QString& text) {
    QString plain;
    for (QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.category() != QChar::Mark_NonSpacing)
            plain += c;
    }
    return plain.toLower();
}

} // namespace

class FindTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installFontSubstitutions(); }

    // Names on pages 1, 3 and the last, one of them with accents typed without them, a text
    // on no page, and Esc.
    void findsNamesOnTheirPages() {
        PreviewFixture f(140);
        QVERIFY(f.ok());
        previewAndThen(f.report(), [](TPreviewForm* form) {
            QVERIFY(QTest::qWaitForWindowActive(form));
            TPreviewControl* preview = form->preview();
            const int last = form->printer()->PageCount();
            QVERIFY(last >= 4);
            const auto names = namesByPage(form);
            const QString onThree = nameOnlyOn(names, 3, isPlain);
            const QString onLast = nameOnlyOn(names, last, isPlain);
            const QString accented = nameOnlyOn(
                names, 2, [](const QString& s) { return withoutAccents(s) != s.toLower(); });
            QVERIFY(!onThree.isEmpty() && !onLast.isEmpty() && !accented.isEmpty());

            QWidget* before = focusedWidget();
            findText(onThree);
            TFindBar* bar = form->findBar();
            QVERIFY(bar->isVisible());
            QCOMPARE(focusedWidget(), bar->field());
            QCOMPARE(preview->PageNumber(), 3);
            QVERIFY(outlinesHold(preview, onThree));
            QCOMPARE(bar->statusText(), QStringLiteral("Page 3: 1 found"));
            QCOMPARE(form->statusText(), QStringLiteral("Page 3 of %1").arg(last));
            if (const QString dir = qEnvironmentVariable("LV26_SHOT_DIR"); !dir.isEmpty())
                form->grab().save(QDir(dir).filePath(QStringLiteral("find-page-3.png")));

            findText(onLast);
            QCOMPARE(preview->PageNumber(), last);
            QVERIFY(outlinesHold(preview, onLast));

            // "joao" finds "João": lower case, accents left out.
            findText(withoutAccents(accented));
            QCOMPARE(preview->PageNumber(), 2);
            QVERIFY(outlinesHold(preview, accented));

            findText(QStringLiteral("Zebedeu Quixotesco"));
            QCOMPARE(preview->PageNumber(), 2);
            QVERIFY(preview->image()->highlights().empty());
            QCOMPARE(bar->statusText(), QStringLiteral("Not found"));

            // The preview's own keys keep their meaning with the focus in the bar.
            typeKey(Qt::Key_PageDown);
            QCOMPARE(preview->PageNumber(), 3);

            // Esc closes the bar only, and the focus goes back where it was.
            typeKey(Qt::Key_Escape);
            QVERIFY(!bar->isVisible());
            QVERIFY(form->isOpen());
            QCOMPARE(focusedWidget(), before);
            QVERIFY(preview->image()->highlights().empty());
            typeKey(Qt::Key_Escape); // now the window's own: presses Close
            QVERIFY(!form->isOpen());
        });
    }

    // From the current page on, wrapping round once; F3 on, Shift+F3 back.
    void searchesWrapRound() {
        PreviewFixture f(140);
        QVERIFY(f.ok());
        previewAndThen(f.report(), [](TPreviewForm* form) {
            QVERIFY(QTest::qWaitForWindowActive(form));
            TPreviewControl* preview = form->preview();
            const int last = form->printer()->PageCount();
            const auto names = namesByPage(form);
            const QString onOne = nameOnlyOn(names, 1, isPlain);
            QVERIFY(!onOne.isEmpty());
            typeKey(Qt::Key_End);
            QCOMPARE(preview->PageNumber(), last);
            findText(onOne); // after the last page, round to the first
            QCOMPARE(preview->PageNumber(), 1);
            QVERIFY(outlinesHold(preview, onOne));
            typeKey(Qt::Key_F3); // the only page holding it: stays
            QCOMPARE(preview->PageNumber(), 1);

            // "Página" is on every page's foot, below the part of the page in view: the
            // preview scrolls down to it.
            QVERIFY(preview->verticalScrollBar()->maximum() > 0);
            findText(QStringLiteral("pagina"));
            QCOMPARE(preview->PageNumber(), 1); // the current page first
            QVERIFY(preview->verticalScrollBar()->value() > 0);
            QVERIFY(outlineInView(preview));
            typeKey(Qt::Key_F3);
            QCOMPARE(preview->PageNumber(), 2);
            typeKey(Qt::Key_F3, Qt::ShiftModifier);
            QCOMPARE(preview->PageNumber(), 1);
            typeKey(Qt::Key_F3, Qt::ShiftModifier); // back round to the last
            QCOMPARE(preview->PageNumber(), last);
            QVERIFY(outlinesHold(preview, QStringLiteral("pagina")));
            QVERIFY(outlineInView(preview));
        });
    }

    // While pages are still coming, only the finished ones are searched, and the bar says so.
    void searchesTheFinishedPagesDuringAGeneration() {
        PreviewFixture f(3000);
        QVERIFY(f.ok());
        bool searched = false;
        onceWhen([] { return formBusyWithPages(3); },
                 [&] {
                     TPreviewForm* form = openForm();
                     QVERIFY(QTest::qWaitForWindowActive(form));
                     TPreviewControl* preview = form->preview();
                     const int finished = form->printer()->PagesCompleted();
                     findText(QStringLiteral("PAGINA 3"));
                     QCOMPARE(preview->PageNumber(), 3);
                     QVERIFY(form->findBar()->statusText().endsWith(
                         QStringLiteral("in the %1 pages finished so far").arg(finished)));
                     QVERIFY(outlinesHold(preview, QStringLiteral("Página 3")));
                     findText(QStringLiteral("Pagina 90"));
                     QCOMPARE(preview->PageNumber(), 3);
                     QVERIFY(form->findBar()->statusText().startsWith(
                         QStringLiteral("Not found in the ")));
                     searched = true;
                     form->close();
                 });
        PreviewReport(f.report());
        QVERIFY(searched);
    }

    // A report file loaded into the window is searched as its own pages.
    void searchesALoadedFile() {
        PreviewFixture f(140);
        QVERIFY(f.ok());
        const QString file = f.path(QStringLiteral("listing.qrp"));
        QString onThree;
        previewAndThen(f.report(), [&](TPreviewForm* form) {
            form->saveReportFile(file);
            onThree = nameOnlyOn(namesByPage(form), 3, isPlain);
        });
        QVERIFY(!onThree.isEmpty());
        PreviewFixture other(30); // a one-page listing, into whose window the file is loaded
        QVERIFY(other.ok());
        previewAndThen(other.report(), [&](TPreviewForm* form) {
            QVERIFY(QTest::qWaitForWindowActive(form));
            findText(onThree);
            QCOMPARE(form->findBar()->statusText(), QStringLiteral("Not found"));
            form->loadReportFile(file);
            typeKey(Qt::Key_F3);
            QCOMPARE(form->preview()->PageNumber(), 3);
            QVERIFY(outlinesHold(form->preview(), onThree));
            QCOMPARE(form->findBar()->statusText(), QStringLiteral("Page 3: 1 found"));
        });
    }
};

QTEST_MAIN(FindTest)
#include "tst_find.moc"
