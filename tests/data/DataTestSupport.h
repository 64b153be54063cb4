#pragma once

// Fixture helpers for the table-layer tests: a temporary working directory holding freshly
// created "Func.DB" and "Dados.DB", rows appended straight through the engine, and a short
// way to assert the message of an expected error.

#include "base/Error.h"
#include "engine/TableEngine.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <optional>

namespace lv26::test {

// Owns a temporary folder with empty tables and makes it the working directory while alive.
class TableFolder {
public:
    TableFolder() : previous_(QDir::currentPath()) {
        QVERIFY(dir_.isValid());
        engine::createTables(dir_.path());
        QDir::setCurrent(dir_.path());
    }
    ~TableFolder() { QDir::setCurrent(previous_); }
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
        engine::appendRows(QString::fromLatin1(table), [&](engine::Row& row) {
            if (next == rows.size())
                return false;
            row = rows.at(next++);
            return true;
        });
    }

    QString previous_;
    QTemporaryDir dir_;
};

// The message of the lv26::Error `f` throws; empty when it throws nothing.
inline QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& error) {
        return error.message();
    }
    return QString();
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
