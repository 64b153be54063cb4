#pragma once

// The payroll's two tables, "Func.DB" (the employees) and "Dados.DB" (their weekly hours):
// the one description of their columns, types, sizes and indexes, which each storage turns
// into its own tables (docs/tables.md).

#include "engine/Storage.h"

#include <QList>
#include <QString>

namespace lv26 {

// Func.DB: Matricula (Text 5, the primary index Matricula), Nome (Text 40), CPF (Text 11),
// Sexo (Text 1), Sal_Hora (Money), HorasNoMes (Int32). Dados.DB: Matricula (Text 5), Semana
// and HorasNaSemana (Int16), the index Matricula on Matricula;Semana. In that order.
QList<engine::TableDescription> payrollTables();

// Creates both tables, empty, in `storage`. Throws EEngineError TableExists, making neither,
// when either exists, or the storage's error when they cannot be made.
void createPayrollTables(engine::storage::Storage& storage);

// Creates both tables, empty, as files in the existing folder `dir`. Throws as above.
void createPayrollTables(const QString& dir);

} // namespace lv26
