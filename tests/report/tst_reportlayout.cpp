// The payroll layout resource and the layout loader: what ListForm's Report1 holds after
// loading, length units and zoom, and malformed layouts refused with a clear message.

#include "report/LISTUnit.h"
#include "report/Report.h"
#include "report/ReportElements.h"
#include "report/ReportLayout.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <functional>

using namespace lv26;

namespace {

QByteArray payrollLayout() {
    QFile f(TListForm::layoutResource());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The payroll layout with `edit` applied to its JSON text.
QByteArray editedLayout(const std::function<void(QJsonObject&)>& edit) {
    QJsonObject root = QJsonDocument::fromJson(payrollLayout()).object();
    edit(root);
    return QJsonDocument(root).toJson();
}

} // namespace

class tst_ReportLayout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loadsBandsInStoredOrder() {
        TListForm form(nullptr);
        const TReport& r = form.Report1;
        QCOMPARE(r.bands().size(), size_t(4));
        const QList<std::pair<QString, TBandType>> expected = {
            {QStringLiteral("DetailBand1"), TBandType::btDetail},
            {QStringLiteral("ColumnHeaderBand1"), TBandType::btColumnHeader},
            {QStringLiteral("PageFooterBand1"), TBandType::btPageFooter},
            {QStringLiteral("TitleBand1"), TBandType::btTitle}};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(r.bands()[i]->Name(), expected[i].first);
            QCOMPARE(r.bands()[i]->BandType(), expected[i].second);
            QCOMPARE(r.bands()[i]->widthNative(), 593 * 254.0 / 96 / 0.8);
        }
        QCOMPARE(r.bandOfType(TBandType::btTitle)->Name(), QStringLiteral("TitleBand1"));
        QVERIFY(r.bandOfType(TBandType::btPageHeader) == nullptr);
        QCOMPARE(r.DataSetName, QStringLiteral("Table1"));
        QCOMPARE(r.Page.PaperSize(), TPaperSize::Letter);
        QVERIFY(!r.PrintIfEmpty);
        QVERIFY(!r.Options.FirstPageHeader && r.Options.LastPageFooter && !r.Options.Compression);
        QCOMPARE(TListForm::Caption(), QStringLiteral("FOLHA DE PAGAMENTO"));
    }

    void elementGeometry_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("band");
        QTest::addColumn<QList<double>>("geometry"); // Left, Top, Width, Height to 4 decimals
        const auto row = [](const char* name, const char* band, QList<double> g) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(band) << g;
        };
        row("RepLabel6", "TitleBand1", {631.6927, 9.9219, 694.5313, 89.2969});
        row("RepLabel2", "ColumnHeaderBand1", {6.6146, 9.9219, 208.3594, 46.3021});
        row("RepLabel3", "ColumnHeaderBand1", {846.6667, 9.9219, 400.1823, 46.3021});
        row("RepLabel4", "ColumnHeaderBand1", {1289.8438, 9.9219, 287.7344, 46.3021});
        row("RepLabel5", "ColumnHeaderBand1", {1594.1146, 9.9219, 340.6510, 46.3021});
        row("RepDBText1", "DetailBand1", {19.8438, 3.3073, 168.6719, 46.3021});
        row("RepDBText4", "DetailBand1", {1289.8438, 3.3073, 287.7344, 46.3021});
        row("RepShape1", "DetailBand1", {0, 56.2240, 1961.2240, 9.9219});
        row("RepDBText2", "DetailBand1", {1074.8698, 3.3073, 165.3646, 39.6875});
        row("RepExpr1", "DetailBand1", {1607.3438, 3.3073, 496.0938, 39.6875});
        row("RepSysData1", "PageFooterBand1", {9.9219, 19.8438, 304.2708, 46.3021});
        row("RepSysData2", "PageFooterBand1", {1723.0990, 19.8438, 238.1250, 46.3021});
    }

    void elementGeometry() {
        QFETCH(QString, name);
        QFETCH(QString, band);
        QFETCH(QList<double>, geometry);
        TListForm form(nullptr);
        TReportPrintable* e = nullptr;
        for (const auto& b : form.Report1.bands()) {
            if (TReportPrintable* found = b->findElement(name)) {
                QCOMPARE(b->Name(), band);
                e = found;
            }
        }
        QVERIFY(e);
        const double stored[] = {e->leftNative(), e->topNative(), e->widthNative(),
                                 e->heightNative()};
        for (int i = 0; i < 4; ++i)
            // The table gives four decimals: within half a unit of the last one.
            QVERIFY2(qAbs(stored[i] - geometry[i]) <= 0.0000501, qPrintable(QString::number(i)));
        // Read through the report's MM units.
        QCOMPARE(e->Left(), e->leftNative() / 10);
    }

    void elementContent() {
        TListForm form(nullptr);
        const TReport& r = form.Report1;
        auto* detail = r.bandOfType(TBandType::btDetail);
        QCOMPARE(detail->elements().size(), size_t(5));
        QStringList order;
        for (const auto& e : detail->elements())
            order << e->Name();
        QCOMPARE(order,
                 (QStringList{"RepDBText1", "RepDBText4", "RepShape1", "RepDBText2", "RepExpr1"}));
        auto* expr = static_cast<TReportExpr*>(detail->findElement(QStringLiteral("RepExpr1")));
        QCOMPARE(expr->Kind(), TElementKind::Expr);
        QCOMPARE(expr->Expression, QStringLiteral("Table1.Sal_Hora * Table1.HorasNoMes"));
        QCOMPARE(expr->Mask, QStringLiteral("0.00"));
        QCOMPARE(expr->Font().size, 8.0); // the band's font
        auto* title = static_cast<TReportLabel*>(
            r.bandOfType(TBandType::btTitle)->findElement(QStringLiteral("RepLabel6")));
        QCOMPARE(title->Caption, QStringLiteral("Folha de Pagamento"));
        QCOMPARE(title->Font().color, QColor(0, 0, 128));
        QVERIFY(title->AutoSize && !title->Transparent);
        auto* heading = static_cast<TReportLabel*>(
            r.bandOfType(TBandType::btColumnHeader)->findElement(QStringLiteral("RepLabel4")));
        QCOMPARE(heading->Caption, QStringLiteral("SALÁRIO HORA"));
        QVERIFY(heading->Frame.drawBottom && !heading->Frame.drawTop && heading->Transparent);
        auto* page = static_cast<TReportSysData*>(
            r.bandOfType(TBandType::btPageFooter)->findElement(QStringLiteral("RepSysData2")));
        QCOMPARE(page->Data, TSysDataType::sdPageNumber);
        QCOMPARE(page->Text, QStringLiteral("Página "));
        QVERIFY(page->AlignToBand && page->Alignment == TAlignment::taRightJustify);
        QCOMPARE(page->Font().size, 10.0); // the report's font
    }

    void lengthsFollowUnits() {
        TListForm form(nullptr);
        TReport& r = form.Report1;
        QCOMPARE(r.Units(), TUnits::MM);
        QCOMPARE(r.Page.Length(), 279.4);
        r.setUnits(TUnits::Native);
        QCOMPARE(r.Page.Length(), 2794.0);
        r.setUnits(TUnits::Inches);
        QCOMPARE(r.Page.Length(), 11.0);
        r.setUnits(TUnits::Pixels); // 96 per inch at zoom 80
        QCOMPARE(r.bandOfType(TBandType::btDetail)->Height(), 24.0);
        // Writing in one unit stores tenths of a millimetre.
        r.setUnits(TUnits::MM);
        r.Page.setTopMargin(12.5);
        QCOMPARE(r.Page.native(TReportPage::TopMarginV), 125.0);
        // A named paper's width and length are not set directly.
        r.Page.setLength(100);
        QCOMPARE(r.Page.native(TReportPage::LengthV), 2794.0);
    }

    void bandHeightsAndFooterSum() {
        TListForm form(nullptr);
        const TReport& r = form.Report1;
        const auto rounded = [&](TBandType t) {
            return report::roundHalfEven(r.bandOfType(t)->heightNative());
        };
        QCOMPARE(rounded(TBandType::btTitle), 106);
        QCOMPARE(rounded(TBandType::btColumnHeader), 63);
        QCOMPARE(rounded(TBandType::btDetail), 79);
        QCOMPARE(rounded(TBandType::btPageFooter), 66);
        QVERIFY(qAbs(r.pageFooterHeight() - 66.1458) < 0.00005);
    }

    void zoomOutsideRangeIsIgnored() {
        TListForm form(nullptr);
        TReport& r = form.Report1;
        QCOMPARE(r.Zoom(), 80);
        r.setZoom(0);
        QCOMPARE(r.Zoom(), 80);
        r.setZoom(301);
        QCOMPARE(r.Zoom(), 80);
        r.setZoom(300);
        QCOMPARE(r.Zoom(), 300);
    }

    void paperSizeSetsWidthAndLength() {
        TReport r;
        r.setUnits(TUnits::Native);
        r.Page.setPaperSize(TPaperSize::Letter);
        QCOMPARE(r.Page.Width(), 2159.0);
        r.Page.setOrientation(TOrientation::poLandscape);
        QCOMPARE(r.Page.Width(), 2794.0);
        QCOMPARE(r.Page.Length(), 2159.0);
        r.Page.setPaperSize(TPaperSize::A4);
        QCOMPARE(r.Page.Length(), 2100.0);
        r.Page.setPaperSize(TPaperSize::Custom);
        r.Page.setLength(1000);
        QCOMPARE(r.Page.Length(), 1000.0);
    }

    void malformedLayouts_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        QTest::newRow("not JSON") << QByteArray("{ \"format\": ") << "offset";
        QTest::newRow("not an object") << QByteArray("[1, 2]") << "expected an object";
        QTest::newRow("other format")
            << editedLayout([](QJsonObject& o) { o["format"] = "something else"; })
            << "format: not a report layout";
        QTest::newRow("missing bands")
            << editedLayout([](QJsonObject& o) { o.remove("bands"); }) << "bands: missing";
        QTest::newRow("unknown key")
            << editedLayout([](QJsonObject& o) { o["colour"] = 1; }) << "colour: unknown key";
        QTest::newRow("wrong zoom") << editedLayout([](QJsonObject& o) { o["zoom"] = 500; })
                                    << "zoom: 500 is outside 1 to 300";
        const auto editElement = [](const std::function<void(QJsonObject&)>& edit) {
            return editedLayout([&](QJsonObject& o) {
                QJsonArray bands = o["bands"].toArray();
                QJsonObject band = bands[0].toObject();
                QJsonArray elements = band["elements"].toArray();
                QJsonObject e = elements[0].toObject();
                edit(e);
                elements[0] = e;
                band["elements"] = elements;
                bands[0] = band;
                o["bands"] = bands;
            });
        };
        QTest::newRow("negative length") << editElement([](QJsonObject& e) {
            e["size"] = QJsonArray{46.3, -1, 3.3, 168.7};
        }) << "bands[0].elements[0].size: -1 is outside 0 to 100000";
        QTest::newRow("short size") << editElement([](QJsonObject& e) {
            e["size"] = QJsonArray{46.3, 1};
        }) << "bands[0].elements[0].size: expected 4 lengths";
        QTest::newRow("unknown kind")
            << editElement([](QJsonObject& e) { e["kind"] = "TReportChart"; })
            << "bands[0].elements[0].kind: unknown element kind \"TReportChart\"";
        QTest::newRow("text as number") << editElement([](QJsonObject& e) { e["dataField"] = 7; })
                                        << "bands[0].elements[0].dataField: expected a text";
        QTest::newRow("unknown colour")
            << editElement([](QJsonObject& e) { e["color"] = "clMauve"; })
            << "bands[0].elements[0].color: unknown colour \"clMauve\"";
        QTest::newRow("duplicate name")
            << editElement([](QJsonObject& e) { e["name"] = "RepDBText4"; })
            << "\"RepDBText4\" is used twice";
        QTest::newRow("margins too large") << editedLayout([](QJsonObject& o) {
            QJsonObject page = o["page"].toObject();
            page["values"] = QJsonArray{1500, 2794, 1500, 2159, 100, 100, 0};
            o["page"] = page;
        }) << "page.values: the margins leave no room on the page's length";
    }

    void malformedLayouts() {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        TListForm form(nullptr);
        try {
            loadReportLayout(form.Report1, json, QStringLiteral("test.json"));
            QFAIL("accepted");
        } catch (const EReportError& e) {
            QVERIFY2(
                e.message().startsWith(QStringLiteral("Report layout test.json is not valid: ")),
                qPrintable(e.message()));
            QVERIFY2(e.message().contains(message), qPrintable(e.message()));
        }
        QVERIFY(form.Report1.bands().empty());
    }

    void missingLayoutFile() {
        TReport r;
        QVERIFY_THROWS_EXCEPTION(EReportError,
                                 loadReportLayoutFile(r, QStringLiteral("/no/such/layout.json")));
    }
};

QTEST_MAIN(tst_ReportLayout)
#include "tst_reportlayout.moc"
