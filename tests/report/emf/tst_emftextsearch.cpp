// The texts of a page picture and the search over them: where each character lies, case and
// accents ignored, occurrences within one text, and damaged pictures refused.

#include "EmfTestSupport.h"

#include "report/emf/EmfTextSearch.h"
#include "report/emf/EmfWriter.h"

#include <QTest>

using namespace lv26;

namespace {

EmfFont listFont() {
    EmfFont f;
    f.face = QStringLiteral("Arial");
    f.heightPx = 13;
    return f;
}

// A page with a name at (40, 20), a heading centred on x = 200 at y = 60 and a line of
// figures at (40, 100).
QByteArray page() {
    EmfWriter w;
    w.beginPage(400, 200, 96, 96);
    w.setFont(listFont());
    w.textOut(40, 20, QStringLiteral("João Sebastião Araújo"));
    w.textOut(200, 60, QStringLiteral("SALÁRIO MENSAL"), Qt::AlignHCenter);
    w.textOut(40, 100, QStringLiteral("Joao 40,00 JOÃO"));
    return w.endPage();
}

} // namespace

class TestEmfTextSearch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { emftest::useLiberationFonts(); }

    void textsComeWithTheirCharacterCells() {
        const std::vector<EmfTextRun> runs = emfTextRuns(page());
        QCOMPARE(runs.size(), size_t(3));
        QCOMPARE(runs[0].text, QStringLiteral("João Sebastião Araújo"));
        QCOMPARE(runs[0].boxes.size(), size_t(runs[0].text.size()));
        QCOMPARE(runs[0].boxes.front().left(), 40.0);
        QCOMPARE(runs[0].boxes.front().top(), 20.0);
        for (size_t i = 1; i < runs[0].boxes.size(); ++i)
            QCOMPARE(runs[0].boxes[i].left(), runs[0].boxes[i - 1].right());
        // The centred heading lies around its reference point.
        const QRectF heading = runs[1].boxes.front() | runs[1].boxes.back();
        QVERIFY(qAbs(heading.center().x() - 200) <= 1);
    }

    void caseAndAccentsAreIgnored() {
        QCOMPARE(foldedForSearch(QStringLiteral("João ARAÚJO")), QStringLiteral("joao araujo"));
        const std::vector<QRectF> joao = findInEmf(page(), QStringLiteral("joao"));
        QCOMPARE(joao.size(), size_t(3)); // "João", "Joao" and "JOÃO"
        QCOMPARE(joao[0].left(), 40.0);
        QVERIFY(joao[0].right() < 80);
        QCOMPARE(findInEmf(page(), QStringLiteral("SALARIO")).size(), size_t(1));
        QCOMPARE(findInEmf(page(), QStringLiteral("Araújo")).size(), size_t(1));
    }

    void anOccurrenceCoversItsCharactersOnly() {
        const std::vector<QRectF> found = findInEmf(page(), QStringLiteral("bastiao"));
        QCOMPARE(found.size(), size_t(1));
        const std::vector<EmfTextRun> runs = emfTextRuns(page());
        // "Sebastião": the occurrence starts at its "b" (index 7) and ends after its "o" (13).
        QCOMPARE(found[0], runs[0].boxes[7] | runs[0].boxes[13]);
    }

    void nothingIsFoundForAbsentOrBlankTexts() {
        QVERIFY(findInEmf(page(), QStringLiteral("Maria")).empty());
        QVERIFY(findInEmf(page(), QString()).empty());
        QVERIFY(findInEmf(page(), QStringLiteral("   ")).empty());
        // Within one text only: the end of one line and the start of the next do not join.
        QVERIFY(findInEmf(page(), QStringLiteral("araujosalario")).empty());
    }

    void damagedPicturesAreRefused() {
        QByteArray cut = page();
        cut.truncate(cut.size() / 2);
        QVERIFY_THROWS_EXCEPTION(EMetafileError, findInEmf(cut, QStringLiteral("joao")));
        QVERIFY_THROWS_EXCEPTION(EMetafileError, emfTextRuns(QByteArray("not a picture")));
    }
};

QTEST_MAIN(TestEmfTextSearch)
#include "tst_emftextsearch.moc"
