#include "data/CsvExport.h"

#include "base/Messages.h"
#include "data/Field.h"
#include "data/Table.h"

#include <QSaveFile>

#include <cerrno>
#include <cmath>

namespace lv26 {

namespace {

QByteArray number(const QVariant& value) {
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::Double) {
        const double v = value.toDouble();
        return std::isfinite(v) ? QByteArray::number(v, 'f', QLocale::FloatingPointShortest)
                                : QByteArray();
    }
    return value.toString().toUtf8();
}

// HorasNoMes x Sal_Hora as the listing shows it with its mask "0.00", in machine form.
QByteArray monthlySalary(const QVariant& salHora, const QVariant& horas) {
    if (horas.isNull())
        return {};
    const double value = (salHora.isNull() ? 0.0 : salHora.toDouble()) * horas.toInt();
    if (!std::isfinite(value))
        return {};
    const regional::DecimalDigits d = regional::roundDecimal(value, 2);
    QByteArray out = d.negative ? "-" : "";
    out += d.integer.isEmpty() ? QByteArray("0") : d.integer.toLatin1();
    return out + '.' + d.fraction.toLatin1();
}

int columnIndex(const engine::TableDescription& description, const char* name) {
    for (int i = 0; i < description.columns.size(); ++i) {
        if (description.columns[i].name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVariant valueOf(const engine::TableDescription& description, const engine::Row& row,
                 const char* name) {
    const int i = columnIndex(description, name);
    return i >= 0 && i < row.size() ? row[i] : QVariant();
}

// The primary index (Matricula), as the employee table is read everywhere else.
QString matriculaIndex(const engine::TableDescription& description) {
    for (const engine::IndexInfo& index : description.indexes) {
        if (index.primary && !index.descending && !index.expression)
            return index.name;
    }
    for (const engine::IndexInfo& index : description.indexes) {
        if (index.fields.compare(QLatin1String("Matricula"), Qt::CaseInsensitive) == 0)
            return index.name;
    }
    return description.indexes.isEmpty() ? QString() : description.indexes.first().name;
}

[[noreturn]] void raiseWriteError(const QFileDevice& file, int error) {
    if (file.error() == QFileDevice::ResourceError || error == ENOSPC || error == EDQUOT ||
        error == EFBIG)
        throw Error(msg(Message::DiskFull));
    if (file.error() == QFileDevice::PermissionsError || error == EACCES || error == EPERM ||
        error == EROFS)
        throw Error(msg(Message::FileAccessDenied));
    throw Error(msg(Message::IoErrorNumber, {error}));
}

} // namespace

QByteArray csvField(const QString& value) {
    QByteArray bytes = value.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

QByteArray csvHeader() {
    return "Matricula,Nome,CPF,Sexo,Sal_Hora,HorasNoMes,SalarioMensal";
}

QByteArray csvLine(const engine::TableDescription& columns, const engine::Row& row) {
    QByteArray line;
    for (const char* name : {"Matricula", "Nome", "CPF", "Sexo"}) {
        const QVariant v = valueOf(columns, row, name);
        line += csvField(v.isNull() ? QString() : v.toString()) + ',';
    }
    const QVariant salHora = valueOf(columns, row, "Sal_Hora");
    const QVariant horas = valueOf(columns, row, "HorasNoMes");
    return line + number(salHora) + ',' + number(horas) + ',' + monthlySalary(salHora, horas);
}

bool writeMonthCsv(const QString& fileName, const QString& funcTable,
                   const std::function<bool()>& cancelled) {
    const std::unique_ptr<engine::Cursor> cursor =
        tableStorage().open(funcTable, &matriculaIndex, engine::OpenMode::ReadOnly);
    const engine::TableDescription& description = cursor->description();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(msg(Message::CannotCreateFile, {fileName}));
    file.write(csvHeader() + '\n');
    engine::Row row;
    while (cursor->next(row)) {
        if (cancelled && cancelled()) {
            file.cancelWriting();
            return false;
        }
        if (file.write(csvLine(description, row) + '\n') < 0)
            break; // the failure is reported with its cause below
    }
    if (!file.commit())
        raiseWriteError(file, errno);
    return true;
}

} // namespace lv26
