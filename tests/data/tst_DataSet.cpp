// The row state machine and the buffer window of TTable over real table files: navigation
// flags, edit/insert/post/cancel/delete rules, required fields and focus, key violations,
// read-only tables, opening errors, data-link notifications, and the window's reads.

#include "DataTestSupport.h"
#include "data/DataSource.h"
#include "data/Field.h"
#include "data/PayrollSchema.h"
#include "data/Table.h"
#include "data/Unit3.h"

#include <QFile>
#include <memory>
#include <sqlite3.h>
#include <unistd.h>

using namespace lv26;
using namespace lv26::test;

namespace {

// A data link that records what it is told and can hold a pending "control" value.
class RecordingLink : public TDataLink {
public:
    QStringList events;
    TField* focused = nullptr;
    TField* pendingField = nullptr;
    QString pendingText;
    bool consumeFocus = true;

    void setPending(TField* field, const QString& text) {
        pendingField = field;
        pendingText = text;
    }

protected:
    void ActiveChanged() override { events << "active"; }
    void DataSetChanged() override { events << "changed"; }
    void DataSetScrolled(int distance) override { events << QString("scrolled %1").arg(distance); }
    void RecordChanged(TField* field) override {
        events << "record " + (field ? field->FieldName() : QString("*"));
    }
    void EditingChanged() override { events << "editing"; }
    void UpdateData() override {
        if (!pendingField)
            return;
        TField* field = pendingField;
        pendingField = nullptr;
        field->setText(pendingText);
    }
    bool FocusControl(TField* field) override {
        focused = field;
        return consumeFocus;
    }
};

void sqlExec(const QString& path, const QString& statements) {
    sqlite3* db = nullptr;
    QVERIFY(sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statements.toUtf8().constData(), nullptr, nullptr, &error);
    const QString message = error ? QString::fromUtf8(error) : QString();
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

QString matricula(int n) {
    return QString::number(n).rightJustified(5, QLatin1Char('0'));
}

} // namespace

class tst_DataSet : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TableFolder> folder_;
    std::unique_ptr<TDados> dados_;

    void openWith(int employees) {
        QList<engine::Row> rows;
        for (int i = 1; i <= employees; ++i)
            rows << TableFolder::employee(matricula(i), "Nome " + QString::number(i));
        if (!rows.isEmpty())
            TableFolder::addEmployees(rows);
        dados_ = std::make_unique<TDados>();
    }
    TTable* t1() const { return dados_->Table1; }
    QString current() const { return dados_->Table1Matricula->AsString(); }
    // Employees as stored, read by a second table.
    static QStringList storedMatriculas() {
        TTable table;
        table.setObjectName("Check");
        table.setTableName("Func.DB");
        table.setIndexFieldNames("Matricula");
        table.Open();
        QStringList seen;
        for (table.First(); !table.Eof(); table.Next())
            seen << table.FieldByName("Matricula")->AsString();
        return seen;
    }

private Q_SLOTS:
    void init() { LV26_TABLE_FOLDER(folder_); }
    void cleanup() {
        dados_.reset();
        folder_.reset();
    }

    void navigationFlags() {
        openWith(3);
        QVERIFY(t1()->Bof() && !t1()->Eof());
        QCOMPARE(current(), QStringLiteral("00001"));
        t1()->Next();
        t1()->Next();
        QCOMPARE(current(), QStringLiteral("00003"));
        QVERIFY(!t1()->Bof() && !t1()->Eof());
        QCOMPARE(t1()->MoveBy(1), 0); // no later row: Eof, same row
        QVERIFY(t1()->Eof());
        QCOMPARE(current(), QStringLiteral("00003"));
        QCOMPARE(t1()->MoveBy(-5), -2);
        QVERIFY(t1()->Bof() && !t1()->Eof());
        QCOMPARE(current(), QStringLiteral("00001"));
        t1()->Last();
        QVERIFY(t1()->Eof() && !t1()->Bof());
        t1()->Prior();
        t1()->Prior();
        QCOMPARE(current(), QStringLiteral("00001"));
        QVERIFY(!t1()->Bof()); // reached by moving backward: Bof only after a failed move
        t1()->Prior();
        QVERIFY(t1()->Bof());
    }

    void emptyTable() {
        openWith(0);
        QVERIFY(t1()->Bof() && t1()->Eof() && t1()->IsEmpty());
        QCOMPARE(t1()->MoveBy(1), 0);
        QVERIFY(t1()->Bof() && t1()->Eof());
        QCOMPARE(errorOf([&] { t1()->Delete(); }),
                 QStringLiteral("Cannot perform this operation on an empty dataset"));
        t1()->Edit(); // edit on an empty table inserts
        QCOMPARE(t1()->State(), DataSetState::Insert);
        QVERIFY(!t1()->Modified());
        t1()->Cancel();
        QCOMPARE(t1()->State(), DataSetState::Browse);
        QVERIFY(t1()->IsEmpty() && t1()->Bof() && t1()->Eof());
        // The first row posted makes the table non-empty for the navigator.
        t1()->Insert();
        dados_->Table1Matricula->setText("00001");
        dados_->Table1Nome->setText("Ana");
        dados_->Table1Sexo->setText("F");
        dados_->Table1Sal_Hora->setText("1");
        t1()->Post();
        QVERIFY(!(t1()->Bof() && t1()->Eof()));
        QVERIFY(!t1()->IsEmpty());
    }

    void requiredFieldsInRecordOrder() {
        openWith(1);
        RecordingLink link;
        link.setDataSource(dados_->DataSource1);
        t1()->Insert();
        dados_->Table1Matricula->setText("00009");
        QCOMPARE(errorOf([&] { t1()->Post(); }), QStringLiteral("Field 'Nome' must have a value"));
        QCOMPARE(link.focused, dados_->Table1Nome); // Sexo is blank too, but Nome comes first
        QCOMPARE(t1()->State(), DataSetState::Insert);
        QCOMPARE(current(), QStringLiteral("00009"));
        dados_->Table1Nome->setText("Bia");
        dados_->Table1Sal_Hora->setAsFloat(10);
        QCOMPARE(errorOf([&] { t1()->Post(); }), QStringLiteral("Field 'Sexo' must have a value"));
        QCOMPARE(link.focused, dados_->Table1Sexo);
        dados_->Table1Sexo->setText("F");
        t1()->Post();
        QCOMPARE(t1()->State(), DataSetState::Browse);
        QCOMPARE(storedMatriculas(), QStringList({"00001", "00009"}));
    }

    void postCopiesPendingControlValues() {
        openWith(2);
        RecordingLink link;
        link.setDataSource(dados_->DataSource1);
        t1()->Edit();
        link.setPending(dados_->Table1Nome, "Carla");
        t1()->Post();
        QCOMPARE(dados_->Table1Nome->AsString(), QStringLiteral("Carla"));
        // A pending value that cannot be applied stops the post in edit state.
        t1()->Edit();
        link.setPending(dados_->Table1HorasNoMes, "x");
        QCOMPARE(errorOf([&] { t1()->Next(); }),
                 QStringLiteral("'x' is not a valid integer value for field 'HorasNoMes'"));
        QCOMPARE(t1()->State(), DataSetState::Edit);
        QCOMPARE(current(), QStringLiteral("00001"));
    }

    void cancelRestoresAndUnlocks() {
        openWith(2);
        t1()->Edit();
        dados_->Table1Nome->setText("Mudado");
        QVERIFY(t1()->Modified());
        TTable other;
        other.setObjectName("Other");
        other.setTableName("Func.DB");
        other.setIndexFieldNames("Matricula");
        other.Open();
        QVERIFY(!errorOf([&] { other.Edit(); }).isEmpty()); // the row is locked
        QCOMPARE(other.State(), DataSetState::Browse);
        t1()->Cancel();
        QCOMPARE(t1()->State(), DataSetState::Browse);
        QCOMPARE(dados_->Table1Nome->AsString(), QStringLiteral("Nome 1"));
        other.Edit(); // the lock was released
        QCOMPARE(other.State(), DataSetState::Edit);
        other.Cancel();
    }

    void unmodifiedEditIsCancelledOnMove() {
        openWith(2);
        t1()->Edit();
        t1()->Next();
        QCOMPARE(t1()->State(), DataSetState::Browse);
        QCOMPARE(current(), QStringLiteral("00002"));
        t1()->Edit();
        dados_->Table1Nome->setText("Novo");
        t1()->First(); // modified: posted
        t1()->Next();
        QCOMPARE(dados_->Table1Nome->AsString(), QStringLiteral("Novo"));
    }

    void deleteRules() {
        openWith(3);
        t1()->Next();
        t1()->Delete();
        QCOMPARE(current(), QStringLiteral("00003")); // the following row
        t1()->Delete();
        QCOMPARE(current(), QStringLiteral("00001")); // the last went: the preceding row
        t1()->Insert();
        dados_->Table1Matricula->setText("00005");
        t1()->Delete(); // on a new row: only cancels it
        QCOMPARE(t1()->State(), DataSetState::Browse);
        QCOMPARE(storedMatriculas(), QStringList({"00001"}));
        t1()->Delete();
        QVERIFY(t1()->IsEmpty() && t1()->Bof() && t1()->Eof());
    }

    // Rows at row identity 0 or below, as another program may store them, are edited,
    // posted and deleted like any other; a delete that did not remove the row would claim a
    // success it did not have.
    void rowIdentitiesZeroAndBelow() {
        LV26_FILES_ONLY("row identities another program stored");
        sqlExec("Func.DB", "INSERT INTO Func (rowid, Matricula, Nome, Sexo, Sal_Hora) VALUES "
                           "(0, '00001', 'Bia', 'F', 9), (-3, '00002', 'Caio', 'M', 9)");
        openWith(0);
        QCOMPARE(current(), QStringLiteral("00001"));
        t1()->Edit();
        dados_->Table1Nome->setText("Beatriz");
        t1()->Post();
        QCOMPARE(dados_->Table1Nome->AsString(), QStringLiteral("Beatriz"));
        t1()->Next();
        QCOMPARE(current(), QStringLiteral("00002"));
        t1()->Prior();
        t1()->Delete();
        QCOMPARE(current(), QStringLiteral("00002"));
        QCOMPARE(storedMatriculas(), QStringList({"00002"}));
        t1()->Delete();
        QVERIFY(t1()->IsEmpty());
        QCOMPARE(storedMatriculas(), QStringList());
    }

    void keyViolationKeepsInsertState() {
        openWith(2);
        t1()->Append();
        QVERIFY(t1()->Eof());
        dados_->Table1Matricula->setText("00001");
        dados_->Table1Nome->setText("Dup");
        dados_->Table1Sexo->setText("M");
        dados_->Table1Sal_Hora->setText("5");
        QVERIFY(!errorOf([&] { t1()->Post(); }).isEmpty());
        QCOMPARE(t1()->State(), DataSetState::Insert);
        QCOMPARE(dados_->Table1Nome->AsString(), QStringLiteral("Dup"));
        dados_->Table1Matricula->setText("00003");
        t1()->Post();
        QCOMPARE(current(), QStringLiteral("00003"));
        QCOMPARE(storedMatriculas(), QStringList({"00001", "00002", "00003"}));
    }

    void insertAndCancelPositions() {
        openWith(3);
        t1()->Next();
        t1()->Insert();                   // before the current row
        QCOMPARE(t1()->RecordCount(), 1); // a one-row window holds just the new row
        t1()->Cancel();
        QCOMPARE(current(), QStringLiteral("00002"));
        t1()->Append();
        t1()->Cancel();
        QCOMPARE(current(), QStringLiteral("00003"));

        // The same through a grid-sized window: the rows keep their places.
        RecordingLink grid;
        grid.setBufferCount(10);
        grid.setDataSource(dados_->DataSource1);
        t1()->First();
        t1()->Next();
        t1()->Insert();
        QCOMPARE(grid.RecordCount(), 4);
        QCOMPARE(grid.ActiveRecord(), 1);
        t1()->Cancel();
        QCOMPARE(grid.RecordCount(), 3);
        QCOMPARE(grid.ActiveRecord(), 1);
        QCOMPARE(current(), QStringLiteral("00002"));
        t1()->Append();
        QCOMPARE(grid.ActiveRecord(), 3);
        t1()->Cancel();
        QCOMPARE(grid.ActiveRecord(), 2);
        QCOMPARE(current(), QStringLiteral("00003"));
    }

    void readOnlyTable() {
        TableFolder::addEmployees({TableFolder::employee("00001")});
        TTable table;
        table.setObjectName("Table1");
        table.setTableName("Func.DB");
        table.setIndexFieldNames("Matricula");
        table.setReadOnly(true);
        table.Open();
        QVERIFY(!table.CanModify());
        QVERIFY(!table.FieldByName("Nome")->CanModify());
        const QString readOnly = QStringLiteral("Cannot modify a read-only dataset");
        QCOMPARE(errorOf([&] { table.Edit(); }), readOnly);
        QCOMPARE(errorOf([&] { table.Insert(); }), readOnly);
        QCOMPARE(errorOf([&] { table.Append(); }), readOnly);
        QCOMPARE(errorOf([&] { table.Delete(); }), readOnly);
        QCOMPARE(table.State(), DataSetState::Browse);
    }

    // The engine goes by the permission bits, so this holds for the superuser too.
    void readOnlyFileFallsBack() {
        LV26_FILES_ONLY("a file's permission bits");
        TableFolder::addEmployees({TableFolder::employee("00001")});
        QFile::setPermissions("Func.DB", QFile::ReadOwner);
        dados_ = std::make_unique<TDados>();
        QVERIFY(!t1()->CanModify());
        QCOMPARE(errorOf([&] { dados_->TotalHoras(); }),
                 QStringLiteral("Cannot modify a read-only dataset"));
    }

    void openErrors_data() {
        QTest::addColumn<QString>("funcSql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing column")
            << "CREATE TABLE Func (Matricula CHAR(5) PRIMARY KEY, CPF CHAR(11), Sexo CHAR(1), "
               "Sal_Hora MONEY, HorasNoMes INTEGER);"
            << "Table1: Field 'Nome' not found";
        QTest::newRow("wrong size")
            << "CREATE TABLE Func (Matricula CHAR(5) PRIMARY KEY, Nome CHAR(40), CPF CHAR(12), "
               "Sexo CHAR(1), Sal_Hora MONEY, HorasNoMes INTEGER);"
            << "Field 'CPF' is not of the expected type";
        QTest::newRow("wrong family")
            << "CREATE TABLE Func (Matricula CHAR(5) PRIMARY KEY, Nome CHAR(40), CPF CHAR(11), "
               "Sexo CHAR(1), Sal_Hora SMALLINT, HorasNoMes INTEGER);"
            << "Field 'Sal_Hora' is not of the expected type";
        QTest::newRow("no index")
            << "CREATE TABLE Func (Matricula CHAR(5), Nome CHAR(40), CPF CHAR(11), "
               "Sexo CHAR(1), Sal_Hora MONEY, HorasNoMes INTEGER);"
            << "'Table1' has no index for fields 'Matricula'";
        QTest::newRow("only a descending index")
            << "CREATE TABLE Func (Matricula CHAR(5), Nome CHAR(40), CPF CHAR(11), "
               "Sexo CHAR(1), Sal_Hora MONEY, HorasNoMes INTEGER);"
               "CREATE INDEX ByMat ON Func (Matricula DESC);"
            << "'Table1' has no index for fields 'Matricula'";
        QTest::newRow("index led by Matricula") // accepted
            << "CREATE TABLE Func (Matricula CHAR(5), Nome CHAR(40), CPF CHAR(11), "
               "Sexo CHAR(1), Sal_Hora MONEY, HorasNoMes INTEGER);"
               "CREATE INDEX ByMat ON Func (Matricula, Nome);"
            << "";
    }
    void openErrors() {
        QFETCH(QString, funcSql);
        QFETCH(QString, expected);
        if (testingOnServer()) {
            // The same shapes made by another program on the server, with the row identity
            // and money type every server table has.
            QString serverSql = funcSql;
            serverSql
                .replace(QStringLiteral("CREATE TABLE Func ("),
                         QStringLiteral("CREATE TABLE Func (rowid bigint GENERATED BY "
                                        "DEFAULT AS IDENTITY, "))
                .replace(QStringLiteral("MONEY"), QStringLiteral("currency"));
            const QStringList out =
                runSql(runServer().conninfo(), QStringLiteral("DROP TABLE func; ") + serverSql);
            QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
        } else {
            QFile::remove("Func.DB");
            sqlExec(folder_->path("Func.DB"), funcSql);
        }
        QCOMPARE(errorOf([&] { dados_ = std::make_unique<TDados>(); }), expected);
    }

    void damagedFileFailsOpen() {
        LV26_FILES_ONLY("a damaged file");
        QFile file("Func.DB");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(4096, 'x'));
        file.close();
        try {
            TDados dados;
            QFAIL("a damaged table opened");
        } catch (const EEngineError& error) {
            QVERIFY(!error.message().isEmpty());
        }
        QFile::remove("Dados.DB");
        try {
            QFile::remove("Func.DB");
            createPayrollTables(folder_->path());
        } catch (const EEngineError&) {
        }
    }

    void linkNotifications() {
        openWith(3);
        RecordingLink link;
        link.setDataSource(dados_->DataSource1);
        link.events.clear();
        t1()->Next();
        QCOMPARE(link.events, QStringList({"scrolled 1"}));
        link.events.clear();
        dados_->DataSource1->Edit(); // automatic edit
        QCOMPARE(t1()->State(), DataSetState::Edit);
        QVERIFY(link.events.contains("editing"));
        link.events.clear();
        dados_->Table1Nome->setText("X");
        QCOMPARE(link.events, QStringList({"record Nome"}));
        link.events.clear();
        t1()->Post();
        QVERIFY(link.events.contains("editing"));
        QVERIFY(link.events.contains("changed"));
        link.setReadOnly(true);
        QVERIFY(!link.Edit());
        QCOMPARE(t1()->State(), DataSetState::Browse);
        dados_->DataSource1->setAutoEdit(false);
        dados_->DataSource1->Edit();
        QCOMPARE(t1()->State(), DataSetState::Browse);
    }

    // A grid-sized link over 1,000 rows: moves inside the window read nothing, each step past
    // its edge reads one row, and nothing ever reads the whole table.
    void bufferWindow() {
        openWith(1000);
        RecordingLink grid;
        grid.setBufferCount(10);
        grid.setDataSource(dados_->DataSource1);
        RecordingLink navigator;
        navigator.setDataSource(dados_->DataSource1);
        QCOMPARE(t1()->BufferCount(), 10);
        QCOMPARE(grid.RecordCount(), 10);
        QCOMPARE(navigator.RecordCount(), 1);

        const qint64 start = t1()->RowsRead();
        t1()->MoveBy(9);
        QCOMPARE(t1()->RowsRead(), start); // inside the window
        QCOMPARE(grid.ActiveRecord(), 9);
        QCOMPARE(navigator.ActiveRecord(), 0);
        grid.events.clear();
        t1()->Next();
        QCOMPARE(t1()->RowsRead(), start + 1);
        QCOMPARE(grid.events, QStringList({"scrolled 1"}));
        QCOMPARE(current(), QStringLiteral("00011"));

        // Painting: each row of the grid by its link's ActiveRecord.
        QStringList shown;
        const int active = grid.ActiveRecord();
        for (int row = 0; row < grid.RecordCount(); ++row) {
            grid.setActiveRecord(row);
            shown << dados_->Table1Matricula->DisplayText();
        }
        grid.setActiveRecord(active);
        QCOMPARE(shown.first(), QStringLiteral("00002"));
        QCOMPARE(shown.last(), QStringLiteral("00011"));

        const qint64 beforeLast = t1()->RowsRead();
        t1()->Last();
        QVERIFY(t1()->RowsRead() - beforeLast <= 11);
        QCOMPARE(current(), QStringLiteral("01000"));
        QCOMPARE(grid.ActiveRecord(), 9);
        t1()->Edit();
        dados_->Table1Nome->setText("Z");
        const qint64 beforePost = t1()->RowsRead();
        t1()->Post();
        QVERIFY(t1()->RowsRead() - beforePost <= 12); // the rows around are read again
        t1()->First();
        QVERIFY(t1()->RowsRead() < 100);
        QCOMPARE(grid.ActiveRecord(), 0);

        // A smaller window once the grid goes: the current row is kept.
        t1()->MoveBy(5);
        grid.setDataSource(nullptr);
        QCOMPARE(t1()->BufferCount(), 1);
        QCOMPARE(current(), QStringLiteral("00006"));
        t1()->Next();
        QCOMPARE(current(), QStringLiteral("00007"));
    }

    // The rows stored within the range, counted without reading them or moving: a master
    // table counts its whole file, a detail table its master's rows, and rows that another
    // writer stored count at once.
    void storedRowCountReadsNoRow() {
        TableFolder::addWeeks({TableFolder::week("00002", 1, 40), TableFolder::week("00002", 2, 40),
                               TableFolder::week("00002", 3, 40),
                               TableFolder::week("00003", 1, 8)});
        openWith(30);
        RecordingLink grid;
        grid.setBufferCount(10);
        grid.setDataSource(dados_->DataSource1);
        t1()->MoveBy(1);
        QCOMPARE(current(), QStringLiteral("00002"));
        const qint64 read = t1()->RowsRead() + dados_->Table2->RowsRead();
        grid.events.clear();
        QCOMPARE(t1()->StoredRowCount(), qint64(30));
        QCOMPARE(dados_->Table2->StoredRowCount(), qint64(3));
        QCOMPARE(t1()->RowsRead() + dados_->Table2->RowsRead(), read);
        QCOMPARE(grid.events, QStringList());
        QCOMPARE(current(), QStringLiteral("00002"));
        QCOMPARE(grid.ActiveRecord(), 1);
        QCOMPARE(t1()->RecordCount(), 10);

        TableFolder::addEmployees({TableFolder::employee("00031")});
        QCOMPARE(t1()->StoredRowCount(), qint64(31));
        t1()->Next();
        QCOMPARE(dados_->Table2->StoredRowCount(), qint64(1));

        t1()->Close();
        QCOMPARE(errorOf([&] { t1()->StoredRowCount(); }),
                 QStringLiteral("Cannot perform this operation on a closed dataset"));
    }

    void refreshSeesOtherWriters() {
        openWith(1);
        TTable other;
        other.setObjectName("Other");
        other.setTableName("Func.DB");
        other.setIndexFieldNames("Matricula");
        other.Open();
        other.Edit();
        other.FieldByName("Nome")->setText("Outro");
        other.Post();
        t1()->Refresh();
        QCOMPARE(dados_->Table1Nome->AsString(), QStringLiteral("Outro"));
    }
};

QTEST_GUILESS_MAIN(tst_DataSet)
#include "tst_DataSet.moc"
