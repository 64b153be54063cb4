#pragma once

// Fixture helpers for the table-layer tests: a temporary working directory holding freshly
// created "Func.DB" and "Dados.DB", rows appended straight through the storage, and a short
// way to assert the message of an expected error.
//
// With LV26_TEST_BACKEND=server in the environment the tables are made instead on a private
// PostgreSQL server started once for the process (LV26_DATABASE points at it), so the same
// test bodies run on both backends.

#include "TestBackend.h"
#include "base/Error.h"
#include "data/PayrollSchema.h"
#include "data/Table.h"
#include "data/Unit3.h"
#include "engine/TableEngine.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <optional>

namespace lv26::test {

// Owns a temporary folder with empty tables and makes it the working directory while alive;
// on a server run the tables are made anew on the server instead. Requires backendState()
// Ready (LV26_TABLE_FOLDER checks it).
class TableFolder {
public:
    TableFolder() : previous_(QDir::currentPath()) {
        QVERIFY(dir_.isValid());
        QDir::setCurrent(dir_.path());
        if (testingOnServer()) {
            const QString conninfo = runServer().conninfo();
            const QStringList out = dropTables(conninfo);
            QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
            qputenv("LV26_DATABASE", conninfo.toUtf8());
        } else {
            qunsetenv("LV26_DATABASE");
        }
        resetTableStorage();
        createPayrollTables(tableStorage());
    }
    ~TableFolder() {
        qunsetenv("LV26_DATABASE");
        resetTableStorage();
        QDir::setCurrent(previous_);
    }
    QString path(const QString& name = QString()) const { return dir_.filePath(name); }

    // Appends employees (Matricula, Nome, CPF, Sexo, Sal_Hora, HorasNoMes; null = blank).
    static void addEmployees(const QList<engine::Row>& rows) { append("Func.DB", rows); }
    // Appends week rows (Matricula, Semana, HorasNaSemana).
    static void addWeeks(const QList<engine::Row>& rows) { append("Dados.DB", rows); }
    static engine::Row employee(const QString& matricula, const QString& nome = "Ana",
                                const QVariant& sexo = "F", const QVariant& salHora = 10.0,
                                const QVariant& cpf = QVariant()) {
        return {matricula, nome, cpf, sexo, salHora, QVariant()};
    }
    static engine::Row week(const QVariant& matricula, const QVariant& semana,
                            const QVariant& horas) {
        return {matricula, semana, horas};
    }

private:
    static void append(const char* table, const QList<engine::Row>& rows) {
        qsizetype next = 0;
        tableStorage().appendRows(QString::fromLatin1(table), [&](engine::Row& row) {
            if (next == rows.size())
                return false;
            row = rows.at(next++);
            return true;
        });
    }

    QString previous_;
    QTemporaryDir dir_;
};

// Makes `target` a new TableFolder, or skips or fails the case when the run's backend cannot
// hold tables.
#define LV26_TABLE_FOLDER(target) LV26_MAKE_WITH_BACKEND(target, ::lv26::test::TableFolder)

// The message of the lv26::Error `f` throws; empty when it throws nothing.
inline QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& error) {
        return error.message();
    }
    return QString();
}

// "Matricula=HorasNoMes" of every employee in index order ("-" for blank).
inline QStringList storedTotals(TDados& dados) {
    QStringList totals;
    for (dados.Table1->First(); !dados.Table1->Eof(); dados.Table1->Next())
        totals << dados.Table1Matricula->AsString() + QLatin1Char('=') +
                      (dados.Table1HorasNoMes->IsNull() ? QStringLiteral("-")
                                                        : dados.Table1HorasNoMes->AsString());
    return totals;
}

// Pins the default locale for the lifetime of the object.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : previous_(QLocale()) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
    }
    ~LocaleScope() { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

} // namespace lv26::test
