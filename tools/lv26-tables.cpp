// lv26-tables: makes the program's empty tables, fills them with generated employees, and
// copies table files to a server.
//
//   lv26-tables create DIR              the empty Func.DB and Dados.DB in DIR
//   lv26-tables fill DIR N [--seed S]   N more employees with 4 or 5 weeks each
//
// With LV26_DATABASE naming a PostgreSQL server, the tables are the server's and DIR is left
// out:
//
//   lv26-tables create                  the empty tables func and dados
//   lv26-tables fill N [--seed S]
//   lv26-tables copy FOLDER             every row of FOLDER's Func.DB and Dados.DB, in one
//                                       transaction (all rows or none)
//
// (lock-row [DIR] TABLE MATRICULA, not listed in the usage, holds the lock on that row until
// the process ends; tests use it to meet a lock held by another process.)

#include "Generator.h"
#include "data/PayrollSchema.h"
#include "engine/SqliteStorage.h"
#include "engine/TableEngine.h"
#include "engine/pg/PgStorage.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace lv26;
using engine::storage::Storage;

namespace {

const QString funcTable = QStringLiteral("Func.DB");
const QString dadosTable = QStringLiteral("Dados.DB");

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int usage() {
    print(stderr, QStringLiteral("usage: lv26-tables create DIR\n"
                                 "       lv26-tables fill DIR N [--seed S]\n"
                                 "with LV26_DATABASE set:\n"
                                 "       lv26-tables create\n"
                                 "       lv26-tables fill N [--seed S]\n"
                                 "       lv26-tables copy FOLDER"));
    return 2;
}

QString serverSetting() {
    return qEnvironmentVariable("LV26_DATABASE");
}

// The tables the command works on: the server LV26_DATABASE names, else the files of the
// folder that `args` starts with (taken from it). Null when a folder is needed but missing.
std::unique_ptr<Storage> openTables(QStringList& args) {
    if (!serverSetting().isEmpty())
        return std::make_unique<engine::pg::PgStorage>(serverSetting());
    if (args.isEmpty())
        return nullptr;
    return std::make_unique<engine::SqliteStorage>(QDir(args.takeFirst()).absolutePath());
}

// The index of `description` whose first field is Matricula.
QString matriculaIndex(const engine::TableDescription& description) {
    for (const engine::IndexInfo& index : description.indexes) {
        if (index.fields.section(QLatin1Char(';'), 0, 0)
                .compare(QLatin1String("Matricula"), Qt::CaseInsensitive) == 0)
            return index.name;
    }
    return QStringLiteral("Matricula");
}

// The sequence number after the highest registration number of the sequence in Func.DB.
qint64 nextSequence(Storage& tables) {
    auto cursor = tables.open(funcTable, &matriculaIndex, engine::OpenMode::ReadOnly);
    cursor->moveToEof();
    engine::Row row;
    while (cursor->prior(row)) {
        const qint64 n = tools::sequenceOf(row.value(0).toString());
        if (n >= 0)
            return n + 1;
    }
    return 1;
}

int create(QStringList args) {
    const std::unique_ptr<Storage> tables = openTables(args);
    if (!tables || !args.isEmpty())
        return usage();
    createPayrollTables(*tables);
    if (serverSetting().isEmpty())
        print(stdout, QStringLiteral("Created %1 and %2.")
                          .arg(QDir(tables->location()).filePath(funcTable),
                               QDir(tables->location()).filePath(dadosTable)));
    else
        print(stdout, QStringLiteral("Created func and dados on %1.").arg(tables->location()));
    return 0;
}

int fill(QStringList args) {
    quint64 seed = 26;
    if (int at = args.indexOf(QStringLiteral("--seed")); at >= 0) {
        bool ok = false;
        seed = args.value(at + 1).toULongLong(&ok);
        if (!ok)
            return usage();
        args.remove(at, 2);
    }
    const std::unique_ptr<Storage> tables = openTables(args);
    bool ok = false;
    const qint64 count = args.size() == 1 ? args[0].toLongLong(&ok) : 0;
    if (!tables || !ok || count < 0)
        return usage();
    const qint64 first = nextSequence(*tables);
    if (first + count > tools::matriculaCount) {
        print(stderr, QStringLiteral("No room for %1 more registration numbers.").arg(count));
        return 1;
    }

    tools::Generator people(seed);
    qint64 n = 0;
    tables->appendRows(funcTable, [&](engine::Row& row) {
        if (n == count)
            return false;
        const tools::Employee e = people.employee(tools::matriculaFor(first + n++));
        row = {e.matricula, e.nome, e.cpf, e.sexo, e.salHora, QVariant()};
        return true;
    });

    tools::Generator weeks(seed ^ 0x9e3779b97f4a7c15ULL);
    n = 0;
    int week = 0, weeksOfEmployee = 0;
    tables->appendRows(dadosTable, [&](engine::Row& row) {
        if (week == weeksOfEmployee) {
            if (n == count)
                return false;
            ++n;
            week = 0;
            weeksOfEmployee = weeks.weekCount();
        }
        ++week;
        row = {tools::matriculaFor(first + n - 1), week, weeks.weekHours()};
        return true;
    });
    if (count == 0)
        print(stdout, QStringLiteral("Added no employees."));
    else
        print(stdout, QStringLiteral("Added %1 employees (%2 to %3).")
                          .arg(count)
                          .arg(tools::matriculaFor(first), tools::matriculaFor(first + count - 1)));
    return 0;
}

// A reader of every row of `tableName` in `from`, in the order of its Matricula index, as
// rows of `to`'s columns (matched by name, case ignored; a column `from` lacks stays blank).
std::function<bool(engine::Row&)> rowsOf(Storage& from, Storage& to, const QString& tableName,
                                         qint64* count) {
    std::shared_ptr<engine::Cursor> cursor =
        from.open(tableName, &matriculaIndex, engine::OpenMode::ReadOnly);
    const engine::TableDescription target = to.describe(tableName);
    QList<int> sourceColumn;
    for (const engine::ColumnInfo& column : target.columns) {
        int found = -1;
        const auto& source = cursor->description().columns;
        for (int i = 0; i < source.size() && found < 0; ++i) {
            if (source[i].name.compare(column.name, Qt::CaseInsensitive) == 0)
                found = i;
        }
        sourceColumn << found;
    }
    return [cursor, sourceColumn, count](engine::Row& row) {
        engine::Row read;
        if (!cursor->next(read))
            return false;
        row.clear();
        for (int i : sourceColumn)
            row << (i < 0 ? QVariant() : read.value(i));
        ++*count;
        return true;
    };
}

int copy(const QStringList& args) {
    if (args.size() != 1 || serverSetting().isEmpty())
        return usage();
    engine::SqliteStorage files(QDir(args[0]).absolutePath());
    engine::pg::PgStorage server(serverSetting());
    qint64 employees = 0, weeks = 0;
    server.appendTables({{funcTable, rowsOf(files, server, funcTable, &employees)},
                         {dadosTable, rowsOf(files, server, dadosTable, &weeks)}});
    print(stdout, QStringLiteral("Copied %1 employees and %2 weeks from %3 to %4.")
                      .arg(employees)
                      .arg(weeks)
                      .arg(files.location(), server.location()));
    return 0;
}

// Locks the first row whose Matricula is the one given, says "locked" and waits for the end
// of its standard input (or to be killed).
int lockRow(QStringList args) {
    const std::unique_ptr<Storage> tables = openTables(args);
    if (!tables || args.size() != 2)
        return usage();
    auto cursor = tables->open(args[0], &matriculaIndex, engine::OpenMode::ReadWrite);
    cursor->setRange(args[1], args[1]);
    engine::Row row;
    if (!cursor->next(row)) {
        print(stderr, QStringLiteral("No row with Matricula %1.").arg(args[1]));
        return 1;
    }
    cursor->lockCurrent(row);
    print(stdout, QStringLiteral("locked"));
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    try {
        if (command == QLatin1String("create"))
            return create(args);
        if (command == QLatin1String("fill"))
            return fill(args);
        if (command == QLatin1String("copy"))
            return copy(args);
        if (command == QLatin1String("lock-row"))
            return lockRow(args);
    } catch (const Error& e) {
        print(stderr, e.message());
        return 1;
    }
    return usage();
}
