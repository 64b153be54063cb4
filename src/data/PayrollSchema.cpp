#include "data/PayrollSchema.h"

#include "engine/TableEngine.h"

namespace lv26 {

namespace {

using engine::ColumnInfo;
using engine::ColumnType;
using engine::IndexInfo;

ColumnInfo text(const char* name, int size) {
    return {QString::fromLatin1(name), ColumnType::Text, size, {}};
}

ColumnInfo column(const char* name, ColumnType type) {
    return {QString::fromLatin1(name), type, 0, {}};
}

} // namespace

QList<engine::TableDescription> payrollTables() {
    engine::TableDescription func{
        QStringLiteral("Func.DB"),
        {text("Matricula", 5), text("Nome", 40), text("CPF", 11), text("Sexo", 1),
         column("Sal_Hora", ColumnType::Money), column("HorasNoMes", ColumnType::Int32)},
        {IndexInfo{QStringLiteral("Matricula"), QStringLiteral("Matricula"), true, true}}};
    engine::TableDescription dados{
        QStringLiteral("Dados.DB"),
        {text("Matricula", 5), column("Semana", ColumnType::Int16),
         column("HorasNaSemana", ColumnType::Int16)},
        {IndexInfo{QStringLiteral("Matricula"), QStringLiteral("Matricula;Semana")}}};
    return {func, dados};
}

void createPayrollTables(engine::storage::Storage& storage) {
    storage.createTables(payrollTables());
}

void createPayrollTables(const QString& dir) {
    engine::createTables(dir, payrollTables());
}

} // namespace lv26
