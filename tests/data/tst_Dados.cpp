// The data module over real tables: the week table following the current employee (ranges,
// settling pending week changes, new week rows), the weekly pay and the monthly totals.

#include "DataTestSupport.h"
#include "data/DataSource.h"
#include "data/Unit3.h"

#include <memory>

using namespace lv26;
using namespace lv26::test;

namespace {

// Stands in for the lower grid: holds a typed cell until the table asks for it.
class CellLink : public TDataLink {
public:
    TField* field = nullptr;
    QString text;

protected:
    void UpdateData() override {
        if (!field)
            return;
        TField* target = field;
        field = nullptr;
        target->setText(text);
    }
};

} // namespace

class tst_Dados : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TableFolder> folder_;
    std::unique_ptr<TDados> dados_;
    using Row = engine::Row;

    void open(const QList<Row>& employees, const QList<Row>& weeks) {
        if (!employees.isEmpty())
            TableFolder::addEmployees(employees);
        if (!weeks.isEmpty())
            TableFolder::addWeeks(weeks);
        dados_ = std::make_unique<TDados>();
    }
    // The default module: 00001 with weeks 1..3 (40, 38, 42 hours), 00002 with weeks 1..2.
    void openStandard() {
        open({TableFolder::employee("00001", "Ana", "F", 12.5),
              TableFolder::employee("00002", "Bruno", "M", 20.0)},
             {TableFolder::week("00001", 1, 40), TableFolder::week("00001", 2, 38),
              TableFolder::week("00001", 3, 42), TableFolder::week("00002", 1, 10),
              TableFolder::week("00002", 2, 20)});
    }
    // Week rows of the current employee as "Matricula/Semana=hours", read through Table2.
    QStringList weeks() const {
        QStringList seen;
        TTable* t2 = dados_->Table2;
        for (t2->First(); !t2->Eof(); t2->Next())
            seen << dados_->Table2Matricula->AsString() + "/" + dados_->Table2Semana->AsString() +
                        "=" + dados_->Table2HorasNaSemana->AsString();
        return seen;
    }
    // HorasNoMes of every employee in Matricula order ("-" for blank).
    QStringList totals() const {
        QStringList seen;
        TTable* t1 = dados_->Table1;
        for (t1->First(); !t1->Eof(); t1->Next())
            seen << (dados_->Table1HorasNoMes->IsNull() ? QStringLiteral("-")
                                                        : dados_->Table1HorasNoMes->AsString());
        return seen;
    }

private Q_SLOTS:
    void init() { LV26_TABLE_FOLDER(folder_); }
    void cleanup() {
        dados_.reset();
        folder_.reset();
    }

    void opensOnFirstEmployeesWeeks() {
        openStandard();
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00001"));
        QCOMPARE(dados_->Table2Semana->AsInteger(), 1);
        QCOMPARE(weeks(), QStringList({"00001/1=40", "00001/2=38", "00001/3=42"}));
        dados_->Table1->Next();
        QCOMPARE(weeks(), QStringList({"00002/1=10", "00002/2=20"}));
    }

    void weeklyPay() {
        LocaleScope scope("pt_BR");
        openStandard();
        QCOMPARE(dados_->Table2Sal_semanal->AsFloat(), 500.0);
        QCOMPARE(dados_->Table2Sal_semanal->DisplayText(), QString("R$") + QChar(0xA0) + "500,00");
        // A changed wage does not touch week rows already read...
        dados_->Table1->Edit();
        dados_->Table1Sal_Hora->setAsFloat(10);
        QCOMPARE(dados_->Table2Sal_semanal->AsFloat(), 500.0);
        // ...until the week row enters edit state.
        dados_->Table2->Edit();
        QCOMPARE(dados_->Table2Sal_semanal->AsFloat(), 400.0);
        dados_->Table2HorasNaSemana->Clear(); // recalculated on every change: blank hours pay 0
        QCOMPARE(dados_->Table2Sal_semanal->Value(), QVariant(0.0));
        dados_->Table2->Cancel();
        dados_->Table1Sal_Hora->Clear();
        dados_->Table2->Edit();
        QCOMPARE(dados_->Table2Sal_semanal->Value(), QVariant(0.0));
    }

    void newWeekRowTakesEmployeeWithoutChange() {
        openStandard();
        dados_->Table2->Append();
        QCOMPARE(dados_->Table2Matricula->AsString(), QStringLiteral("00001"));
        QVERIFY(dados_->Table2Semana->IsNull());
        QCOMPARE(dados_->Table2Sal_semanal->Value(), QVariant(0.0));
        QVERIFY(!dados_->Table2->Modified());
        dados_->Table1->Next(); // settles the untouched row: discarded
        dados_->Table1->Prior();
        QCOMPARE(weeks().size(), 3);
        dados_->Table2->Insert();
        dados_->Table2Semana->setText("4");
        dados_->Table1->Next(); // a typed row is posted
        dados_->Table1->Prior();
        QCOMPARE(weeks(), QStringList({"00001/1=40", "00001/2=38", "00001/3=42", "00001/4="}));
    }

    void pendingWeekChangeSettledBeforeEmployeeOperations() {
        openStandard();
        dados_->Table2->Edit();
        dados_->Table2HorasNaSemana->setText("10");
        dados_->Table1->Edit(); // entering edit settles the week first
        QCOMPARE(dados_->Table2->State(), DataSetState::Browse);
        dados_->Table1->Cancel();
        QCOMPARE(weeks().first(), QStringLiteral("00001/1=10"));

        // A week that cannot be settled stops the employee's move.
        CellLink cell;
        cell.setDataSource(dados_->DataSource2);
        dados_->Table2->First();
        dados_->Table2->Edit();
        cell.field = dados_->Table2HorasNaSemana;
        cell.text = "abc";
        QCOMPARE(errorOf([&] { dados_->Table1->Next(); }),
                 QStringLiteral("'abc' is not a valid integer value for field 'HorasNaSemana'"));
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00001"));
        QCOMPARE(dados_->Table2->State(), DataSetState::Edit);
        dados_->Table2->Cancel();
        dados_->Table1->Next();
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00002"));
    }

    void typedMatriculaReRangesBeforePost() {
        openStandard();
        dados_->Table1->Insert();
        QCOMPARE(dados_->Table2->RecordCount(), 0); // blank key: no weeks
        dados_->Table1Matricula->setText("00002");
        QCOMPARE(dados_->Table1->State(), DataSetState::Insert);
        QCOMPARE(dados_->Table2Matricula->AsString(), QStringLiteral("00002"));
        QCOMPARE(dados_->Table2Semana->AsInteger(), 1);
        // Another field leaves the week table where it stands.
        dados_->Table2->Next();
        dados_->Table1Nome->setText("Outro");
        QCOMPARE(dados_->Table2Semana->AsInteger(), 2);
    }

    void changingWeeksMatriculaMovesIt() {
        openStandard();
        dados_->Table2->Edit();
        dados_->Table2Matricula->setText("00002");
        dados_->Table2->Post();
        QCOMPARE(weeks(), QStringList({"00001/2=38", "00001/3=42"}));
        dados_->Table1->Next();
        QCOMPARE(weeks(), QStringList({"00002/1=40", "00002/1=10", "00002/2=20"}));
    }

    void deletingEmployeeKeepsWeeks() {
        openStandard();
        dados_->Table1->Delete();
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00002"));
        TTable weeksTable;
        weeksTable.setObjectName("Check");
        weeksTable.setTableName("Dados.DB");
        weeksTable.setIndexFieldNames("Matricula");
        weeksTable.Open();
        int count = 0;
        for (weeksTable.First(); !weeksTable.Eof(); weeksTable.Next())
            ++count;
        QCOMPARE(count, 5);
    }

    void totalHoras() {
        open({TableFolder::employee("00001"), TableFolder::employee("00002"),
              TableFolder::employee("00003"), TableFolder::employee("00004")},
             {TableFolder::week("00001", 1, 40), TableFolder::week("00001", 2, 38),
              TableFolder::week("00001", 3, 42), TableFolder::week("00002", 1, 40),
              TableFolder::week("00002", 2, QVariant()), TableFolder::week("00002", 3, 5),
              TableFolder::week("00009", 1, 99)}); // an orphan week
        // 00003 has no weeks but an earlier total, 00004 none and a blank one.
        dados_->Table1->MoveBy(2);
        dados_->Table1->Edit();
        dados_->Table1HorasNoMes->setValue(77);
        dados_->Table1->First();
        dados_->Table2->MoveBy(2); // the lower grid left on the third week
        dados_->TotalHoras();
        QVERIFY(dados_->Table1->Eof());
        QVERIFY(dados_->Table2->Eof());
        QCOMPARE(totals(), QStringList({"120", "-", "0", "0"}));
        dados_->TotalHoras();
        QCOMPARE(totals(), QStringList({"120", "-", "0", "0"}));
    }

    void totalHorasOnEmptyTable() {
        open({}, {TableFolder::week("00001", 1, 40)});
        dados_->TotalHoras();
        QVERIFY(dados_->Table1->IsEmpty());
        QCOMPARE(dados_->Table1->State(), DataSetState::Browse);
    }

    void totalHorasStopsAtBlankRequiredField() {
        open({TableFolder::employee("00001"), TableFolder::employee("00002", "Bia", QVariant()),
              TableFolder::employee("00003")},
             {TableFolder::week("00001", 1, 8), TableFolder::week("00002", 1, 9),
              TableFolder::week("00003", 1, 10)});
        QCOMPARE(errorOf([&] { dados_->TotalHoras(); }),
                 QStringLiteral("Field 'Sexo' must have a value"));
        QCOMPARE(dados_->Table1->State(), DataSetState::Edit);
        QCOMPARE(dados_->Table1Matricula->AsString(), QStringLiteral("00002"));
        QCOMPARE(dados_->Table1HorasNoMes->AsInteger(), 9);
        dados_->Table1->Cancel();
        QCOMPARE(totals(), QStringList({"8", "-", "-"}));
    }

    // 65,540 weeks of 32,767 hours exceed the 32-bit total: refused, never wrapped.
    void totalHorasOverflowIsRefused() {
        QList<Row> many;
        for (int i = 0; i < 65540; ++i)
            many << TableFolder::week("00001", i < 65536 ? QVariant(i - 32768) : QVariant(), 32767);
        open({TableFolder::employee("00001")}, many);
        QCOMPARE(errorOf([&] { dados_->TotalHoras(); }),
                 QStringLiteral("2147516413 is not a valid value for field 'HorasNoMes'. The "
                                "allowed range is -2147483648 to 2147483647"));
        QCOMPARE(dados_->Table1->State(), DataSetState::Edit);
        QCOMPARE(dados_->Table1HorasNoMes->AsInteger(), 65538 * 32767);
    }
};

QTEST_GUILESS_MAIN(tst_Dados)
#include "tst_Dados.moc"
