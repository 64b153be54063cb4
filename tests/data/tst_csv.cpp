// The month as CSV, parsed back: the header, Matricula order, RFC 4180 quoting, blanks, the
// monthly salary rounded as the listing rounds it; the file errors; and the file opened by a
// spreadsheet program where one is installed.

#include "data/CsvExport.h"

#include "DataTestSupport.h"

#include <QProcess>
#include <QStandardPaths>

using namespace lv26;
using namespace lv26::test;

namespace {

// Splits RFC 4180 text into records of fields.
QList<QStringList> parseCsv(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields << field;
            field.clear();
        } else if (c == u'\n') {
            records << (fields << field);
            fields.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    return records;
}

QByteArray contents(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

engine::Row employee(const QString& matricula, const QString& nome, const QVariant& salHora,
                     const QVariant& horas, const QVariant& cpf = "01234567890",
                     const QVariant& sexo = "F") {
    return {matricula, nome, cpf, sexo, salHora, horas};
}

} // namespace

class tst_Csv : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { LV26_TABLE_FOLDER(folder_); }
    void cleanup() { folder_.reset(); }

    void monthIsWrittenInMachineForm() {
        TableFolder::addEmployees({
            employee("00003", "Silva, Ana", 12.5, 160),
            employee("00001", "Maria \"Mana\" Souza", 1.005, 1),
            employee("00002", "João\nSegunda linha", 33.33, 3),
            employee("00004", "Sem horas", 10.0, QVariant()),
            employee("00005", "Sem nada", QVariant(), QVariant(), QVariant(), QVariant()),
            employee("00006", "Centavos", 0.1, 3),
            employee("00007", "Grande", 1234567.25, 1000),
        });
        const QString file = folder_->path("month.csv");
        QVERIFY(writeMonthCsv(file));
        const QByteArray bytes = contents(file);
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF")); // no BOM
        QVERIFY(!bytes.contains('\r'));
        QVERIFY(bytes.endsWith('\n'));

        const QList<QStringList> rows = parseCsv(bytes);
        const QList<QStringList> expected = {
            {"Matricula", "Nome", "CPF", "Sexo", "Sal_Hora", "HorasNoMes", "SalarioMensal"},
            // 1.005 as written rounds up, as the listing's "0.00" shows it.
            {"00001", "Maria \"Mana\" Souza", "01234567890", "F", "1.005", "1", "1.01"},
            {"00002", "João\nSegunda linha", "01234567890", "F", "33.33", "3", "99.99"},
            {"00003", "Silva, Ana", "01234567890", "F", "12.5", "160", "2000.00"},
            // No hours: no monthly salary.
            {"00004", "Sem horas", "01234567890", "F", "10", "", ""},
            {"00005", "Sem nada", "", "", "", "", ""},
            // 0.1 x 3 is 0.30000000000000004 in binary: cents as shown.
            {"00006", "Centavos", "01234567890", "F", "0.1", "3", "0.30"},
            // No exponent and no grouping, however large.
            {"00007", "Grande", "01234567890", "F", "1234567.25", "1000", "1234567250.00"},
        };
        QCOMPARE(rows, expected);
        QVERIFY(bytes.contains("\"Silva, Ana\"") && bytes.contains("\"Maria \"\"Mana\"\" Souza\""));
    }

    void emptyTableGivesTheHeaderOnly() {
        QVERIFY(writeMonthCsv(folder_->path("month.csv")));
        QCOMPARE(contents(folder_->path("month.csv")),
                 QByteArray("Matricula,Nome,CPF,Sexo,Sal_Hora,HorasNoMes,SalarioMensal\n"));
    }

    void cancelledOrFailedExportLeavesNoFile() {
        QList<engine::Row> rows;
        for (int i = 1; i <= 2000; ++i)
            rows << employee(QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')),
                             QStringLiteral("Nome %1").arg(i), 10.0, 40);
        TableFolder::addEmployees(rows);
        int asked = 0;
        QVERIFY(!writeMonthCsv(folder_->path("cancelled.csv"), "Func.DB",
                               [&] { return ++asked > 10; }));
        QVERIFY(!QFile::exists(folder_->path("cancelled.csv")));

        const QString noFolder = folder_->path("missing/month.csv");
        QCOMPARE(errorOf([&] { writeMonthCsv(noFolder); }),
                 QStringLiteral("Cannot create file ") + noFolder);

        QCOMPARE(QDir(folder_->path()).entryList({"*.csv*"}, QDir::Files), QStringList());
    }

    // A spreadsheet program reads every column as written: the keys and CPF as text with
    // their leading zeros, the amounts as numbers. The import names the file's number format
    // (1033: '.' as the decimal point), whatever the session's locale.
    void spreadsheetReadsEveryColumn() {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("soffice (LibreOffice Calc) is not installed; the spreadsheet check is skipped");
        if (testingOnServer())
            QSKIP("the spreadsheet reads the written file, whose contents the other cases check "
                  "on the server too");
        TableFolder::addEmployees({employee("00001", "Silva, Ana", 12.5, 160)});
        QVERIFY(writeMonthCsv(folder_->path("month.csv")));
        QTemporaryDir home;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder_->path());
        p.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + home.path(),
                          QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                          QStringLiteral("ods"),
                          QStringLiteral("--infilter=CSV:44,34,76,1,1/2/2/2/3/2/4/2,1033"),
                          QStringLiteral("--outdir"), folder_->path(), folder_->path("month.csv")});
        QVERIFY(p.waitForFinished(300000));
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), folder_->path("month.ods"),
                                              QStringLiteral("content.xml")});
        QVERIFY(unzip.waitForFinished(60000));
        const QString xml = QString::fromUtf8(unzip.readAllStandardOutput());
        for (const QString& cell :
             {QStringLiteral("<text:p>00001</text:p>"),
              QStringLiteral("<text:p>Silva, Ana</text:p>"),
              QStringLiteral("<text:p>01234567890</text:p>"), QStringLiteral("<text:p>F</text:p>"),
              QStringLiteral("office:value=\"12.5\""), QStringLiteral("office:value=\"160\""),
              QStringLiteral("office:value=\"2000\"")})
            QVERIFY2(xml.contains(cell), qPrintable(cell));
    }

private:
    std::unique_ptr<TableFolder> folder_;
};

QTEST_GUILESS_MAIN(tst_Csv)
#include "tst_csv.moc"
