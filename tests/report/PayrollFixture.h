#pragma once

// Shared by the report tests: real employee tables in a temporary working directory with the
// data module and ListForm over them, and a drawing observer that records what generation
// draws on each page.

#include "data/Fonts.h"
#include "data/PayrollSchema.h"
#include "data/Unit3.h"
#include "engine/TableEngine.h"
#include "report/LISTUnit.h"
#include "report/ReportCanvas.h"
#include "report/ReportPrinter.h"

#include "LetterPrinter.h"

#include <QDir>
#include <QFontMetrics>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace lv26::test {

struct Employee {
    QString matricula;
    QString nome;
    QVariant salHora;    // double or null
    QVariant horasNoMes; // int or null
};

// Employees "00001".."n" named "Func1".."Funcn" (one word, never wrapped), 10.0 an hour,
// 40 hours.
inline QList<Employee> employees(int n) {
    QList<Employee> list;
    for (int i = 1; i <= n; ++i)
        list << Employee{QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')),
                         QStringLiteral("Func%1").arg(i), 10.0, 40};
    return list;
}

// A temporary working directory holding Func.DB and Dados.DB, with the given employees, and
// the data module and ListForm opened over them. The working directory is restored after.
class PayrollFixture {
public:
    explicit PayrollFixture(const QList<Employee>& rows) : oldDir_(QDir::currentPath()) {
        QVERIFY2(dir_.isValid(), "temporary directory");
        createPayrollTables(dir_.path());
        QDir::setCurrent(dir_.path());
        qsizetype next = 0;
        engine::appendRows(QStringLiteral("Func.DB"), [&](engine::Row& row) {
            if (next == rows.size())
                return false;
            const Employee& e = rows[next++];
            row = {e.matricula,         e.nome,    QStringLiteral("12345678909"),
                   QStringLiteral("F"), e.salHora, e.horasNoMes};
            return true;
        });
        dados_ = std::make_unique<TDados>();
        listForm_ = std::make_unique<TListForm>(dados_->Table1);
    }
    ~PayrollFixture() {
        listForm_.reset();
        dados_.reset();
        QDir::setCurrent(oldDir_);
    }

    TDados& dados() { return *dados_; }
    TReport& report() { return listForm_->Report1; }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QString oldDir_;
    QTemporaryDir dir_;
    std::unique_ptr<TDados> dados_;
    std::unique_ptr<TListForm> listForm_;
};

struct DrawnText {
    int page;
    QPoint at; // device units
    QString text;
    TAlignment alignment;
    TReportFont font;
};

struct FilledRect {
    int page;
    QRect rect;
    QColor color;
};

struct DrawnLine {
    int page;
    QPoint from, to;
};

// Records the drawing calls of every page, with the number of the page they were made on.
class DrawingRecorder : public ReportCanvas {
public:
    explicit DrawingRecorder(const TReportPrinter& printer) : printer_(printer) {}

    double pixelsPerInchX() const override { return 96; }
    double pixelsPerInchY() const override { return 96; }
    void fillRect(const QRect& rect, const QColor& color) override {
        rects << FilledRect{printer_.PageCount(), rect, color};
    }
    void setFont(const TReportFont& font) override { font_ = font; }
    QSize textExtent(const QString&) override { return {}; }
    void drawText(int x, int y, const QString& text, TAlignment alignment) override {
        texts << DrawnText{printer_.PageCount(), QPoint(x, y), text, alignment, font_};
    }
    void drawLine(QPoint from, QPoint to, const QColor&, int) override {
        lines << DrawnLine{printer_.PageCount(), from, to};
    }

    QList<DrawnText> textsOn(int page) const {
        QList<DrawnText> out;
        for (const DrawnText& t : texts) {
            if (t.page == page)
                out << t;
        }
        return out;
    }
    // The texts of `page` that start with `prefix`.
    QList<DrawnText> find(int page, const QString& prefix) const {
        QList<DrawnText> out;
        for (const DrawnText& t : textsOn(page)) {
            if (t.text.startsWith(prefix))
                out << t;
        }
        return out;
    }

    QList<DrawnText> texts;
    QList<FilledRect> rects;
    QList<DrawnLine> lines;

private:
    const TReportPrinter& printer_;
    TReportFont font_;
};

// Device row and column of a report position in the preview (96 pixels per inch).
inline int previewUnits(double tenths) {
    return report::DeviceMapping{}.row(tenths);
}

} // namespace lv26::test
