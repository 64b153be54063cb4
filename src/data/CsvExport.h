#pragma once

// The month as CSV: every employee of the employee table in Matricula order, the stored
// values in machine form, for spreadsheets and other programs.
//
//   Matricula,Nome,CPF,Sexo,Sal_Hora,HorasNoMes,SalarioMensal
//   00001,"Silva, Ana",12345678909,F,12.5,160,2000.00
//
// RFC 4180 quoting (a field holding a comma, a quote or a line break is quoted, quotes
// doubled), UTF-8 without BOM, "\n" line ends, "." as decimal point, blank values as empty
// fields. SalarioMensal is HorasNoMes x Sal_Hora rounded to cents as the listing rounds it
// (regional::roundDecimal), empty when HorasNoMes is blank.

#include "engine/TableEngine.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace lv26 {

// The header line, without its line end.
QByteArray csvHeader();
// One employee's line, without its line end. `row` holds the values of the columns named in
// `columns` (a row of the employee table as the engine reads it).
QByteArray csvLine(const engine::TableDescription& columns, const engine::Row& row);
// `value` quoted for a CSV field when it needs to be.
QByteArray csvField(const QString& value);

// Writes the month of the employee table `funcTable` (a path, or a bare name looked up in
// the working directory) to `fileName`. The file appears complete or not at all: it is
// written beside the target and renamed over it at the end. `cancelled` is asked between
// rows; true stops the export, removes what it wrote, and returns false. Raises the engine's
// errors when the table cannot be read, and Error "Cannot create file %s", "Disk full", "File
// access denied" or "I/O error %s" when the file cannot be made or written (nothing is left).
bool writeMonthCsv(const QString& fileName, const QString& funcTable = QStringLiteral("Func.DB"),
                   const std::function<bool()>& cancelled = {});

} // namespace lv26
