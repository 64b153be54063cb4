#pragma once

// The data module: the single owner of both tables, their fields and data sources for the
// whole run, and of the two payroll calculations.

#include "data/DataSource.h"
#include "data/Field.h"
#include "data/Table.h"
#include "engine/TableEngine.h"

#include <QObject>
#include <memory>

namespace lv26 {

class TDados : public QObject {
public:
    // Creates every component in stored order, then opens Table1 ("Func.DB") and Table2
    // ("Dados.DB") from the working directory. Throws (EDatabaseError/EEngineError) when
    // either cannot be opened; the half-built module is then released by the throw.
    explicit TDados(QObject* parent = nullptr);
    // Closes both tables; pending changes are discarded.
    ~TDados() override;

    // Weekly pay of Table2's current row: HorasNaSemana (blank 0) times the Sal_Hora of
    // Table1's current row (blank 0), in extended precision rounded to double, into
    // Sal_semanal. `DataSet` is unused.
    void Table2CalcFields(TDataSet* DataSet);
    // Totals every employee's weekly hours into HorasNoMes and posts each employee. The
    // first error is raised with that employee left in edit state (earlier employees keep
    // their totals). Leaves both tables at their ends.
    void TotalHoras();

    // All owned by the module (QObject children of it, fields children of their table).
    TTable* Table1;
    TStringField* Table1Matricula;
    TStringField* Table1Nome;
    TStringField* Table1CPF;
    TStringField* Table1Sexo;
    TCurrencyField* Table1Sal_Hora;
    TIntegerField* Table1HorasNoMes;
    TDataSource* DataSource1;
    TTable* Table2;
    TStringField* Table2Matricula;
    TSmallintField* Table2Semana;
    TSmallintField* Table2HorasNaSemana;
    TCurrencyField* Table2Sal_semanal;
    TDataSource* DataSource2;

private:
    // Totals the employees by engine passes and the row-by-row steps for those a pass
    // cannot write; leaves Table1 on the first employee still to be done (at its end when
    // none is left). Raises the first error as TotalHoras does.
    void totalInPasses();
    void totalInRuns();
    bool onePassPossible() const;
    bool totalEmployee(engine::Row& row, const engine::DetailTotal& total) const;
    void totalCurrentEmployee();

    // Kept from one TotalHoras to the next: a press that finds both tables as the last one
    // left them reads and writes nothing.
    std::unique_ptr<engine::DetailTotalsWriter> totalsWriter_;
};

// The one instance, set by the start-up sequence (nullptr before and after).
extern TDados* Dados;

} // namespace lv26
