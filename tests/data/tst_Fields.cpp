// Field values through real tables: entry parsing and its messages per field kind, display
// and edit texts under two regional settings, the CPF mask, programmatic conversions, and the
// edit-mask helper the cell editor uses.

#include "DataTestSupport.h"
#include "data/EditMask.h"
#include "data/Field.h"
#include "data/Fonts.h"
#include "data/Unit3.h"

#include <QFont>
#include <memory>

using namespace lv26;
using namespace lv26::test;

class tst_Fields : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TableFolder> folder_;
    std::unique_ptr<TDados> dados_;

    // Text assigned to `field` of a row in edit state: the stored value shown as
    // "value:<AsString>" or "null", or the error message.
    static QString assign(TField* field, const QString& text) {
        const QString error = errorOf([&] { field->setText(text); });
        if (!error.isEmpty())
            return error;
        return field->IsNull() ? QStringLiteral("null")
                               : QStringLiteral("value:") + field->AsString();
    }

private Q_SLOTS:
    void init() {
        LV26_TABLE_FOLDER(folder_);
        TableFolder::addEmployees({TableFolder::employee("00001")});
        TableFolder::addWeeks({TableFolder::week("00001", 1, 40)});
        dados_ = std::make_unique<TDados>();
        dados_->Table1->Edit();
        dados_->Table2->Edit();
    }
    void cleanup() {
        dados_.reset();
        folder_.reset();
    }

    void integerEntry_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Semana"
                               << "40"
                               << "value:40";
        QTest::newRow("leading blanks and sign") << "Semana"
                                                 << "  -7"
                                                 << "value:-7";
        QTest::newRow("plus sign") << "Semana"
                                   << "+12"
                                   << "value:12";
        QTest::newRow("hexadecimal") << "Semana"
                                     << "$1F"
                                     << "value:31";
        QTest::newRow("empty is blank") << "Semana"
                                        << ""
                                        << "null";
        QTest::newRow("smallint bounds") << "HorasNaSemana"
                                         << "-32768"
                                         << "value:-32768";
        QTest::newRow("above smallint range")
            << "HorasNaSemana"
            << "40000"
            << "40000 is not a valid value for field 'HorasNaSemana'. The allowed range is -32768 "
               "to 32767";
        QTest::newRow("letters") << "Semana"
                                 << "abc"
                                 << "'abc' is not a valid integer value for field 'Semana'";
        // Trailing blanks are not part of an integer entry.
        QTest::newRow("trailing blank") << "Semana"
                                        << "12 "
                                        << "'12 ' is not a valid integer value for field 'Semana'";
        QTest::newRow("decimal") << "Semana"
                                 << "1,5"
                                 << "'1,5' is not a valid integer value for field 'Semana'";
        QTest::newRow("sign only") << "Semana"
                                   << "-"
                                   << "'-' is not a valid integer value for field 'Semana'";
    }
    void integerEntry() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(assign(dados_->Table2->FieldByName(field), text), expected);
    }

    void integerFieldRange() {
        TField* horas = dados_->Table1HorasNoMes;
        QCOMPARE(assign(horas, "2147483647"), QStringLiteral("value:2147483647"));
        QCOMPARE(assign(horas, "-2147483648"), QStringLiteral("value:-2147483648"));
        // Beyond 32 bits the text is no integer at all.
        QCOMPARE(
            assign(horas, "2147483648"),
            QStringLiteral("'2147483648' is not a valid integer value for field 'HorasNoMes'"));
        QCOMPARE(errorOf([&] { horas->setValue(qint64(3000000000LL)); }),
                 QStringLiteral("3000000000 is not a valid value for field 'HorasNoMes'. The "
                                "allowed range is -2147483648 to 2147483647"));
        QCOMPARE(horas->AsInteger(), -2147483648); // the refused value left the field alone
    }

    void refusedEntryKeepsValue() {
        TField* horas = dados_->Table2HorasNaSemana;
        QCOMPARE(horas->AsInteger(), 40);
        QVERIFY(!errorOf([&] { horas->setText("40000"); }).isEmpty());
        QCOMPARE(horas->AsInteger(), 40);
        QVERIFY(!dados_->Table2->Modified());
    }

    void currencyEntry_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString refused = "'%1' is not a valid floating point value for field 'Sal_Hora'";
        QTest::newRow("pt comma") << "pt_BR"
                                  << "12,5"
                                  << "value:12,5";
        QTest::newRow("pt point refused") << "pt_BR"
                                          << "12.5" << refused.arg("12.5");
        QTest::newRow("pt symbol refused") << "pt_BR"
                                           << "R$ 12,50" << refused.arg("R$ 12,50");
        QTest::newRow("pt grouping refused") << "pt_BR"
                                             << "1.000,00" << refused.arg("1.000,00");
        QTest::newRow("pt exponent") << "pt_BR"
                                     << "1,5E2"
                                     << "value:150";
        QTest::newRow("pt blanks around") << "pt_BR"
                                          << " -3 "
                                          << "value:-3";
        QTest::newRow("pt only separator") << "pt_BR"
                                           << "," << refused.arg(",");
        QTest::newRow("pt empty is blank") << "pt_BR"
                                           << ""
                                           << "null";
        QTest::newRow("en point") << "en_US"
                                  << "12.5"
                                  << "value:12.5";
        QTest::newRow("en comma refused") << "en_US"
                                          << "12,5" << refused.arg("12,5");
        QTest::newRow("en symbol refused") << "en_US"
                                           << "$12.50" << refused.arg("$12.50");
        QTest::newRow("en bad exponent") << "en_US"
                                         << "1e" << refused.arg("1e");
    }
    void currencyEntry() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        LocaleScope scope(locale.toLatin1().constData());
        QCOMPARE(assign(dados_->Table1Sal_Hora, text), expected);
    }

    void currencyTexts_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("edit");
        // Qt's regional data puts a no-break space between "R$" and the amount.
        const QString nbsp = QString(QChar(0xA0));
        QTest::newRow("pt") << "pt_BR" << 12.5 << "R$" + nbsp + "12,50"
                            << "12,50";
        QTest::newRow("pt grouping") << "pt_BR" << 1234567.891 << "R$" + nbsp + "1.234.567,89"
                                     << "1234567,89";
        QTest::newRow("en") << "en_US" << 12.5 << "$12.50"
                            << "12.50";
        // The regional format for negative amounts decides: parentheses for en_US.
        QTest::newRow("en negative") << "en_US" << -1234.5 << "($1,234.50)"
                                     << "-1234.50";
        QTest::newRow("pt negative") << "pt_BR" << -0.5 << "R$" + nbsp + "-0,50"
                                     << "-0,50";
        // Halves go away from zero, judged on the value as written (15 digits): 2.675 is
        // held as 2.67499999... and still shows as 2,68, as the listing's masks round it.
        QTest::newRow("half cent") << "pt_BR" << 2.675 << "R$" + nbsp + "2,68"
                                   << "2,68";
        QTest::newRow("1.005 as written") << "en_US" << 1.005 << "$1.01"
                                          << "1.01";
        QTest::newRow("negative half cent") << "pt_BR" << -2.675 << "R$" + nbsp + "-2,68"
                                            << "-2,68";
        QTest::newRow("carry") << "en_US" << 999.995 << "$1,000.00"
                               << "1000.00";
        QTest::newRow("rounds to zero without a sign") << "en_US" << -0.001 << "$0.00"
                                                       << "0.00";
        // Beyond 15 significant digits the display shows zeros, not binary noise.
        QTest::newRow("15 digits")
            << "en_US" << 1234567890123456789.0 << "$1,234,567,890,123,460,000.00"
            << "1234567890123456768.00";
    }
    void currencyTexts() {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QFETCH(QString, display);
        QFETCH(QString, edit);
        LocaleScope scope(locale.toLatin1().constData());
        dados_->Table1Sal_Hora->setAsFloat(value);
        QCOMPARE(dados_->Table1Sal_Hora->DisplayText(), display);
        QCOMPARE(dados_->Table1Sal_Hora->EditText(), edit);
    }

    // Negative amounts take the regional negative currency form, whatever it is.
    void negativeCurrencyFormIsTheLocales() {
        for (const char* name : {"pt_BR", "en_US", "de_DE", "fr_FR", "ja_JP", "nl_NL", "de_CH"}) {
            LocaleScope scope(name);
            const QLocale locale;
            for (const double value : {-0.5, -1234.5, -2.68}) {
                dados_->Table1Sal_Hora->setAsFloat(value);
                QCOMPARE(dados_->Table1Sal_Hora->DisplayText(),
                         locale.toCurrencyString(value, locale.currencySymbol(),
                                                 regional::currencyDecimals()));
            }
        }
    }

    void cpfDisplay_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("display");
        QTest::newRow("eleven digits") << "12345678901"
                                       << "123.456.789-01";
        QTest::newRow("nine digits") << "123456789"
                                     << "123.456.789-  ";
        QTest::newRow("blank") << ""
                               << "   .   .   -  ";
    }
    void cpfDisplay() {
        QFETCH(QString, typed);
        QFETCH(QString, display);
        TField* cpf = dados_->Table1CPF;
        const TEditMask mask(cpf->EditMask());
        QString editor = mask.editorText(QString());
        int cursor = 0;
        for (QChar c : typed) {
            const TEditMask::Typed result = mask.type(editor, cursor, c);
            QVERIFY(result.accepted);
            editor = result.text;
            cursor = result.cursor;
        }
        cpf->setText(mask.rawText(editor));
        QCOMPARE(cpf->IsNull(), typed.isEmpty());
        QCOMPARE(cpf->AsString(), typed);
        QCOMPARE(cpf->DisplayText(), display);
        QCOMPARE(cpf->EditText(), typed);
        dados_->Table1->Post(); // stored as typed, no completeness check
        QCOMPARE(cpf->AsString(), typed);
    }

    void stringFields() {
        TField* nome = dados_->Table1Nome;
        nome->setText(QString(50, QChar('x')));
        QCOMPARE(nome->AsString().size(), 40);
        nome->setText(QString());
        QVERIFY(nome->IsNull());
        QCOMPARE(nome->Alignment(), Qt::AlignLeft);
        QCOMPARE(dados_->Table1Sal_Hora->Alignment(), Qt::AlignRight);
        QCOMPARE(nome->DisplayWidth(), 48);
        QCOMPARE(nome->Size(), 40);
    }

    void programmaticValues() {
        TField* semana = dados_->Table2Semana;
        QCOMPARE(errorOf([&] { semana->setValue(QVariant::fromValue(QPointF(1, 2))); }),
                 QStringLiteral("Invalid value for field 'Semana'"));
        QCOMPARE(errorOf([&] { semana->setValue("abc"); }),
                 QStringLiteral("Invalid value for field 'Semana'"));
        QCOMPARE(errorOf([&] { dados_->Table1Sal_Hora->setValue("abc"); }),
                 QStringLiteral("Invalid value for field 'Sal_Hora'"));
        QCOMPARE(errorOf([&] { semana->setAsFloat(40000); }),
                 QStringLiteral("40000 is not a valid value for field 'Semana'. The allowed range "
                                "is -32768 to 32767"));
        semana->setAsFloat(2.6);
        QCOMPARE(semana->Value(), QVariant(3));
        semana->Clear();
        QVERIFY(semana->IsNull());
        QCOMPARE(semana->AsInteger(), 0);
        QCOMPARE(semana->AsFloat(), 0.0);
        QCOMPARE(semana->DisplayText(), QString());
    }

    void stateRules() {
        QCOMPARE(errorOf([&] { dados_->Table2Sal_semanal->setAsFloat(1); }),
                 QStringLiteral("Field 'Sal_semanal' cannot be modified"));
        QVERIFY(!dados_->Table2Sal_semanal->CanModify());
        dados_->Table2->Cancel();
        QCOMPARE(errorOf([&] { dados_->Table2Semana->setText("3"); }),
                 QStringLiteral("Dataset not in edit or insert mode"));
    }

    void editMask_data() {
        QTest::addColumn<QString>("keys"); // typed characters; '<' types a '-', which is refused
        QTest::addColumn<QString>("editor");
        QTest::addColumn<QString>("raw");
        QTest::newRow("nothing") << ""
                                 << "---.---.----"
                                    "--"
                                 << "";
        QTest::newRow("literal skips") << "12.3"
                                       << "12-.3--.----"
                                          "--"
                                       << "12 3";
        QTest::newRow("dot jumps ahead") << "..5"
                                         << "---.---.5---"
                                            "--"
                                         << "      5";
        QTest::newRow("ten digits") << "1234567890"
                                    << "123.456.789-0-"
                                    << "1234567890";
        QTest::newRow("hyphen is not the next literal") << "<7"
                                                        << "7--.---.----"
                                                           "--"
                                                        << "7";
        QTest::newRow("hyphen refused among digits") << "1<2"
                                                     << "12-.---.----"
                                                        "--"
                                                     << "12";
    }
    void editMask() {
        QFETCH(QString, keys);
        QFETCH(QString, editor);
        QFETCH(QString, raw);
        const TEditMask mask("000.000.000-00;0;-");
        QCOMPARE(mask.length(), 14);
        QString text = mask.editorText(QString());
        int cursor = 0;
        for (QChar key : keys) {
            const bool refuse = key == QLatin1Char('<');
            const TEditMask::Typed typed = mask.type(text, cursor, refuse ? QChar('-') : key);
            QCOMPARE(typed.accepted, !refuse);
            if (typed.accepted) {
                text = typed.text;
                cursor = typed.cursor;
            }
        }
        QCOMPARE(text, editor);
        QCOMPARE(mask.rawText(text), raw);
        QCOMPARE(mask.editorText(raw), editor);
    }

    void editMaskClearing() {
        const TEditMask mask("000.000.000-00;0;-");
        QString text = mask.editorText("12345678901");
        QCOMPARE(text, QStringLiteral("123.456.789-01"));
        text = mask.clearAt(text, 3); // a literal stays
        QCOMPARE(text, QStringLiteral("123.456.789-01"));
        text = mask.clearAt(mask.clearAt(text, 12), 13);
        QCOMPARE(mask.rawText(text), QStringLiteral("123456789"));
        QCOMPARE(mask.nextEditable(3), 4);
        QCOMPARE(mask.priorEditable(4), 2);
        QVERIFY(!mask.type(mask.editorText(QString()), 0, QChar('a')).accepted);
    }

    // Rounding works on the value's 15 significant digits, halves away from zero; a value
    // whose 16th digit is exactly a half (a 16-digit integer ending in 5) rounds up too.
    void roundDecimalDigits_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("expected"); // sign, integer digits, '.', fraction digits
        QTest::newRow("written half") << 2.675 << 2 << QStringLiteral("+2.68");
        QTest::newRow("negative half") << -0.005 << 2 << QStringLiteral("-.01");
        QTest::newRow("rounds to zero") << -0.004 << 2 << QStringLiteral("+.00");
        QTest::newRow("zero") << 0.0 << 2 << QStringLiteral("+.00");
        QTest::newRow("wage") << 10.25 << 2 << QStringLiteral("+10.25");
        QTest::newRow("product") << 27.5 * 133 << 2 << QStringLiteral("+3657.50");
        QTest::newRow("tiny") << 1e-7 << 2 << QStringLiteral("+.00");
        QTest::newRow("exact 16th-digit half")
            << 1000000000000005.0 << 0 << QStringLiteral("+1000000000000010.");
        QTest::newRow("negative 16th-digit half")
            << -1234567890123455.0 << 0 << QStringLiteral("-1234567890123460.");
        QTest::newRow("just below a half")
            << 1000000000000004.0 << 0 << QStringLiteral("+1000000000000000.");
        QTest::newRow("carry into a new digit")
            << 9999999999999995.0 << 0 << QStringLiteral("+10000000000000000.");
        QTest::newRow("beyond 15 digits")
            << 123456789012345678.0 << 2 << QStringLiteral("+123456789012346000.00");
        QTest::newRow("huge") << 1e300 << 0 << QStringLiteral("+1") + QString(300, u'0') + u'.';
        QTest::newRow("smallest") << 5e-324 << 3 << QStringLiteral("+.000");
    }
    void roundDecimalDigits() {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, expected);
        const regional::DecimalDigits d = regional::roundDecimal(value, decimals);
        QCOMPARE((d.negative ? u'-' : u'+') + d.integer + u'.' + d.fraction, expected);
    }

    void fontSubstitutions() {
        installFontSubstitutions();
        installFontSubstitutions();
        QCOMPARE(QFont::substitutes("Arial").size(), 1);
        QCOMPARE(QFont::substitute("Arial").toLower(), QStringLiteral("liberation sans"));
        QCOMPARE(QFont::substitute("MS Sans Serif").toLower(), QStringLiteral("liberation sans"));
    }
};

QTEST_GUILESS_MAIN(tst_Fields)
#include "tst_Fields.moc"
