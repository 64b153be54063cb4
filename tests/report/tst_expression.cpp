// Expressions of TReportExpr: operator levels, kinds and their arithmetic, error values,
// field references into a real employee table, and the numeric mask.

#include "PayrollFixture.h"

#include "report/Expression.h"
#include "report/ReportElements.h"
#include "report/TableDataSet.h"

#include <QRegularExpression>

using namespace lv26;
using namespace lv26::test;

namespace {

const QLocale ptBR(QLocale::Portuguese, QLocale::Brazil);
const QLocale enUS(QLocale::English, QLocale::UnitedStates);

ExprValue evaluate(const QString& text, const QList<ReportDataSet*>& dataSets = {}) {
    return parseExpression(text, dataSets)->evaluate();
}

QString shown(const QString& text, const QList<ReportDataSet*>& dataSets, const QLocale& locale) {
    return formatExprValue(evaluate(text, dataSets), QStringLiteral("0.00"), text, locale);
}

} // namespace

class tst_Expression : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installFontSubstitutions(); }

    void constants_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("value"); // formatted without a mask, under en_US
        QTest::newRow("multiplication binds tighter") << "2 + 3 * 4"
                                                      << "14";
        QTest::newRow("subtraction groups to the left") << "10 - 4 - 3"
                                                        << "3";
        QTest::newRow("division groups to the left") << "24 / 4 / 2"
                                                     << "3";
        QTest::newRow("parentheses") << "(2 + 3) * 4"
                                     << "20";
        QTest::newRow("division gives a float") << "7 / 2"
                                                << "3.5";
        QTest::newRow("integer meets float") << "3 * 1.5"
                                             << "4.5";
        QTest::newRow("negative operand") << "5 * -2"
                                          << "-10";
        QTest::newRow("integer overflow widens") << "2147483647 + 1"
                                                 << "2147483648";
        QTest::newRow("strings concatenate") << "'ab' + 'cd'"
                                             << "abcd";
        QTest::newRow("quote inside a string") << "'it''s'"
                                               << "it's";
        QTest::newRow("comparison of sums") << "1 + 1 = 2"
                                            << "True";
        QTest::newRow("less or equal") << "3 <= 2"
                                       << "False";
        QTest::newRow("different") << "'a' <> 'b'"
                                   << "True";
        QTest::newRow("or of booleans") << "False or True"
                                        << "True";
        // Error values show the expression text itself.
        QTest::newRow("division by zero") << "7 / 0"
                                          << "7 / 0";
        QTest::newRow("number times text") << "3 * 'a'"
                                           << "3 * 'a'";
        QTest::newRow("unknown name") << "Salario * 2"
                                      << "Salario * 2";
        QTest::newRow("function call") << "SUM(1)"
                                       << "SUM(1)";
        QTest::newRow("unbalanced") << "(1 + 2"
                                    << "(1 + 2";
        QTest::newRow("empty operand") << "1 +"
                                       << "1 +";
    }

    void constants() {
        QFETCH(QString, expression);
        QFETCH(QString, value);
        QCOMPARE(formatExprValue(evaluate(expression), QString(), expression, enUS), value);
    }

    void kinds() {
        QCOMPARE(evaluate(QStringLiteral("6 * 7")).kind, ExprValue::Kind::Integer);
        QCOMPARE(evaluate(QStringLiteral("6 * 7.0")).kind, ExprValue::Kind::Float);
        QCOMPARE(evaluate(QStringLiteral("1 < 2")).kind, ExprValue::Kind::Boolean);
        QCOMPARE(evaluate(QStringLiteral("'x'")).kind, ExprValue::Kind::String);
        QVERIFY(evaluate(QStringLiteral("True * 2")).isError());
        // Deep nesting ends in an error value, not a crash.
        const QString deep = QString(5000, u'(') + u'1' + QString(5000, u')');
        QVERIFY(evaluate(deep).isError());
    }

    void mask_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("regional comma") << 1234.5 << "0.00" << ptBR << "1234,50";
        QTest::newRow("regional point") << 1234.5 << "0.00" << enUS << "1234.50";
        QTest::newRow("no grouping without a comma in the mask")
            << 1234567.0 << "0.00" << ptBR << "1234567,00";
        QTest::newRow("one integer digit at least") << 0.5 << "0.00" << ptBR << "0,50";
        // Halves go away from zero, judged on the value as written (15 digits).
        QTest::newRow("half up") << 0.125 << "0.00" << ptBR << "0,13";
        QTest::newRow("1.005 as written") << 1.005 << "0.00" << ptBR << "1,01";
        QTest::newRow("negative half") << -2.345 << "0.00" << ptBR << "-2,35";
        QTest::newRow("carry into the integer") << 9.995 << "0.00" << ptBR << "10,00";
        QTest::newRow("rounds to zero without a sign") << -0.001 << "0.00" << ptBR << "0,00";
        QTest::newRow("grouping") << 1234567.891 << "#,##0.00" << ptBR << "1.234.567,89";
        QTest::newRow("optional decimals") << 2.5 << "0.##" << enUS << "2.5";
        QTest::newRow("literal text") << 3.0 << "0.0 h" << enUS << "3.0 h";
        QTest::newRow("negative section") << -4.0 << "0.00;(0.00)" << enUS << "(4.00)";
        QTest::newRow("huge") << 1e20 << "0.00" << enUS << "100000000000000000000.00";
    }

    void mask() {
        QFETCH(double, value);
        QFETCH(QString, mask);
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QCOMPARE(formatMask(value, mask, locale), text);
    }

    // The wage column (the field's currency display) and the monthly column (the product
    // through the mask) round a value the same way.
    void wageAndMonthlyColumnsRoundAlike() {
        const QLocale previous;
        QLocale::setDefault(ptBR);
        const auto digits = [](QString text) { return text.remove(QRegularExpression("\\D")); };
        for (const double wage : {2.675, 1.005, 0.125, 9.995, 1234.565, 0.015, 33.335, -2.345}) {
            const QString display = regional::currencyText(wage);
            const QString monthly = formatMask(wage * 1, QStringLiteral("0.00"), ptBR);
            QVERIFY2(digits(display) == digits(monthly), qPrintable(display + " / " + monthly));
        }
        QLocale::setDefault(previous);
    }

    void fieldReferences() {
        PayrollFixture f({{QStringLiteral("00001"), QStringLiteral("Ana"), 12.5, 40},
                          {QStringLiteral("00002"), QStringLiteral("Bia"), 12.5, QVariant()},
                          {QStringLiteral("00003"), QStringLiteral("Cid"), 98.76, 12},
                          {QStringLiteral("00004"), QStringLiteral("Dan"), 41.15, 30}});
        TableDataSet table1(f.dados().Table1);
        const QList<ReportDataSet*> sets{&table1};
        const QString payroll = QStringLiteral("Table1.Sal_Hora * Table1.HorasNoMes");
        table1.first();
        QCOMPARE(shown(payroll, sets, ptBR), QStringLiteral("500,00"));
        QCOMPARE(shown(payroll, sets, enUS), QStringLiteral("500.00"));
        QCOMPARE(evaluate(payroll, sets).kind, ExprValue::Kind::Float);
        // Names without regard to case; a bare field name searches every dataset.
        QCOMPARE(shown(QStringLiteral("table1.sal_hora * 2"), sets, ptBR), QStringLiteral("25,00"));
        QCOMPARE(shown(QStringLiteral("HorasNoMes + 1"), sets, ptBR), QStringLiteral("41,00"));
        QCOMPARE(shown(QStringLiteral("Table1.Nome"), sets, ptBR), QStringLiteral("Ana"));
        // A blank HorasNoMes reads as 0.
        table1.next();
        QCOMPARE(shown(payroll, sets, ptBR), QStringLiteral("0,00"));
        table1.next();
        QCOMPARE(shown(payroll, sets, ptBR), QStringLiteral("1185,12"));
        table1.next();
        QCOMPARE(shown(payroll, sets, ptBR), QStringLiteral("1234,50"));
        // Unknown fields and datasets show the expression text.
        for (const QString& bad :
             {QStringLiteral("Table1.Salario * Table1.HorasNoMes"),
              QStringLiteral("Table9.Sal_Hora * 2"), QStringLiteral("Table1.Nome * 2")})
            QCOMPARE(shown(bad, sets, ptBR), bad);
        // A closed dataset makes the value an error, not a failure.
        const std::unique_ptr<ExprNode> tree = parseExpression(payroll, sets);
        f.dados().Table1->Close();
        QVERIFY(tree->evaluate().isError());
    }

    void reportExprElement() {
        PayrollFixture f({{QStringLiteral("00001"), QStringLiteral("Ana"), 12.5, 40}});
        QLocale::setDefault(ptBR);
        auto* expr = static_cast<TReportExpr*>(
            f.report().bandOfType(TBandType::btDetail)->findElement(QStringLiteral("RepExpr1")));
        TableDataSet table1(f.dados().Table1);
        PrintContext context;
        context.dataSets << &table1;
        QCOMPARE(expr->valueText(), expr->Expression); // not prepared yet
        expr->Prepare(context);
        table1.first();
        QCOMPARE(expr->valueText(), QStringLiteral("500,00"));
        expr->Unprepare();
        QCOMPARE(expr->text(), expr->Expression);
    }
};

QTEST_MAIN(tst_Expression)
#include "tst_expression.moc"
