#include "data/Unit3.h"

#include "data/GeneralValue.h"

#include <limits>

namespace lv26 {

TDados* Dados = nullptr;

namespace {

template <typename F>
F* makeField(TTable* table, const char* name, const char* fieldName, bool required,
             int displayWidth, int size = 0) {
    F* field = new F(table);
    field->setObjectName(QString::fromLatin1(name));
    field->setFieldName(QString::fromLatin1(fieldName));
    field->setSize(size);
    field->setRequired(required);
    field->setDisplayWidth(displayWidth);
    return field;
}

TTable* makeTable(QObject* owner, const char* name, const char* tableName) {
    TTable* table = new TTable(owner);
    table->setObjectName(QString::fromLatin1(name));
    table->setTableName(QString::fromLatin1(tableName));
    table->setIndexFieldNames(QStringLiteral("Matricula"));
    return table;
}

TDataSource* makeSource(QObject* owner, const char* name, TDataSet* dataSet) {
    TDataSource* source = new TDataSource(owner);
    source->setObjectName(QString::fromLatin1(name));
    source->setDataSet(dataSet);
    source->setEnabled(true);
    source->setAutoEdit(true);
    return source;
}

} // namespace

TDados::TDados(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("Dados"));

    Table1 = makeTable(this, "Table1", "Func.DB");
    Table1->setAutoCalcFields(false);
    Table1Matricula = makeField<TStringField>(Table1, "Table1Matricula", "Matricula", true, 9, 5);
    Table1Nome = makeField<TStringField>(Table1, "Table1Nome", "Nome", true, 48, 40);
    Table1CPF = makeField<TStringField>(Table1, "Table1CPF", "CPF", false, 16, 11);
    Table1CPF->setEditMask(QStringLiteral("000.000.000-00;0;-"));
    Table1Sexo = makeField<TStringField>(Table1, "Table1Sexo", "Sexo", true, 5, 1);
    Table1Sal_Hora = makeField<TCurrencyField>(Table1, "Table1Sal_Hora", "Sal_Hora", true, 12);
    Table1HorasNoMes =
        makeField<TIntegerField>(Table1, "Table1HorasNoMes", "HorasNoMes", false, 10);
    DataSource1 = makeSource(this, "DataSource1", Table1);

    Table2 = makeTable(this, "Table2", "Dados.DB");
    Table2->setMasterSource(DataSource1);
    Table2->setMasterFields(QStringLiteral("Matricula"));
    Table2->setOnCalcFields([this](TDataSet* dataSet) { Table2CalcFields(dataSet); });
    Table2->setAutoCalcFields(true);
    Table2Matricula = makeField<TStringField>(Table2, "Table2Matricula", "Matricula", false, 5, 5);
    Table2Semana = makeField<TSmallintField>(Table2, "Table2Semana", "Semana", false, 10);
    Table2HorasNaSemana =
        makeField<TSmallintField>(Table2, "Table2HorasNaSemana", "HorasNaSemana", false, 10);
    Table2Sal_semanal =
        makeField<TCurrencyField>(Table2, "Table2Sal_semanal", "Sal_semanal", false, 10);
    Table2Sal_semanal->setCalculated(true);
    DataSource2 = makeSource(this, "DataSource2", Table2);

    Table1->Open();
    Table2->Open();
}

TDados::~TDados() {
    Table2->Close();
    Table1->Close();
}

void TDados::Table2CalcFields(TDataSet* /*DataSet*/) {
    // The fields made in the constructor: no lookup by name for every row calculated.
    const int horas = Table2HorasNaSemana->AsInteger();
    const double salHora = Table1Sal_Hora->AsFloat();
    const long double pay = static_cast<long double>(horas) * static_cast<long double>(salHora);
    Table2Sal_semanal->setAsFloat(static_cast<double>(pay));
}

// The employees are done by engine passes, which lock and write each one as an edit and a
// post would, in runs of rows per commit. An employee a pass cannot write (a blank required
// field, a total out of range, a row locked elsewhere, a stored value read back changed) gets
// the row-by-row steps, which raise its error exactly where posting it fails; otherwise the
// next pass goes on after it.
void TDados::TotalHoras() {
    Table1->First();
    if (Table1->Eof())
        return;
    if (onePassPossible())
        tablesOnServer() ? totalInRuns() : totalInPasses();
    while (!Table1->Eof()) {
        totalCurrentEmployee();
        Table1->Next();
    }
}

void TDados::totalCurrentEmployee() {
    TField* horasNoMes = Table1->FieldByName(QStringLiteral("HorasNoMes"));
    TField* horasNaSemana = Table2->FieldByName(QStringLiteral("HorasNaSemana"));
    Table1->Edit();
    horasNoMes->setValue(0);
    Table2->First();
    while (!Table2->Eof()) {
        horasNoMes->setValue(addValues(horasNoMes->Value(), horasNaSemana->Value()));
        Table2->Next();
    }
    Table1->Post();
}

// The pass joins the tables on the stored keys, which is what the link's range shows only
// while Table2 follows Table1's one index field.
bool TDados::onePassPossible() const {
    return Table1->CanModify() && Table2->Active() && Table2->MasterSource() == DataSource1 &&
           !Table1->IndexFieldNames().contains(QLatin1Char(';')) &&
           Table2->MasterFields().compare(Table1->IndexFieldNames(), Qt::CaseInsensitive) == 0 &&
           Table1HorasNoMes->Column() >= 0;
}

void TDados::totalInPasses() {
    engine::DetailTotalsPass pass;
    pass.masterTable = Table1->TableName();
    pass.masterIndex = Table1->IndexName();
    pass.detailTable = Table2->TableName();
    pass.detailIndex = Table2->IndexName();
    pass.detailColumn = Table2HorasNaSemana->FieldName();
    const auto visit = [this](engine::Row& row, const engine::DetailTotal& total) {
        return totalEmployee(row, total);
    };
    // One writer for every pass, kept for the next press: going on after a stop reads and
    // sums nothing again, and neither does a press with nothing changed since the last.
    if (!totalsWriter_ || !totalsWriter_->isFor(pass)) {
        totalsWriter_.reset();
        totalsWriter_ = std::make_unique<engine::DetailTotalsWriter>(pass);
    }
    engine::DetailTotalsWriter& writer = *totalsWriter_;
    engine::Bookmark after;
    for (;;) {
        const engine::DetailTotalsEnd end = writer.write(after, visit);
        switch (end.how) {
        case engine::DetailTotalsEnd::How::Unsupported:
            if (after.isValid())
                Table1->Next(); // the employee the last pass stopped at is done
            return;
        case engine::DetailTotalsEnd::How::Finished:
            Table1->Last();
            Table2->Last();
            return;
        case engine::DetailTotalsEnd::How::Stopped:
            Table1->GotoBookmark(end.at);
            totalCurrentEmployee();
            after = end.at;
            break;
        }
    }
}

// On a server: the weekly hours summed per employee in one statement, then the employees
// written in runs; an employee the visitor refuses (or another holder has locked) gets the
// row-by-row steps, and the next runs go on after it.
void TDados::totalInRuns() {
    engine::storage::Storage& storage = tableStorage();
    const engine::storage::KeyTotals totals = storage.sumByKey(
        Table2->TableName(), Table2->IndexName(), Table2HorasNaSemana->FieldName());
    const int keyColumn = Table1->FieldByName(Table1->IndexFieldNames())->Column();
    const auto visit = [&](engine::Row& row) {
        if (keyColumn < 0 || row[keyColumn].isNull())
            return engine::storage::RowVisit::Stop;
        const engine::storage::KeyTotal total = totals.at(row[keyColumn]);
        return totalEmployee(row, {total.blank, total.sum}) ? engine::storage::RowVisit::Write
                                                            : engine::storage::RowVisit::Stop;
    };
    engine::Bookmark after;
    for (;;) {
        const engine::storage::RunsEnd end =
            storage.writeRuns(Table1->TableName(), Table1->IndexName(), after, 512, visit);
        if (end.how == engine::storage::RunsEnd::How::Finished) {
            Table1->Last();
            Table2->Last();
            return;
        }
        Table1->GotoBookmark(end.at);
        totalCurrentEmployee();
        after = end.at;
    }
}

// The month of one employee as the row-by-row steps would post it; false when posting it
// would fail (a blank required field, a total HorasNoMes cannot hold).
bool TDados::totalEmployee(engine::Row& row, const engine::DetailTotal& total) const {
    for (const TField* field : Table1->Fields()) {
        if (field->Required() && field->Column() >= 0 && row[field->Column()].isNull())
            return false;
    }
    QVariant& horas = row[Table1HorasNoMes->Column()];
    if (total.blank) {
        horas = QVariant();
        return true;
    }
    if (total.sum < std::numeric_limits<qint32>::min() ||
        total.sum > std::numeric_limits<qint32>::max())
        return false;
    horas = int(total.sum);
    return true;
}

} // namespace lv26
