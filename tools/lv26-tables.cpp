// lv26-tables: makes the program's empty tables and fills them with generated employees.
//
//   lv26-tables create DIR              the empty Func.DB and Dados.DB in DIR
//   lv26-tables fill DIR N [--seed S]   N more employees with 4 or 5 weeks each
//
// (lock-row DIR TABLE MATRICULA, not listed in the usage, holds the lock on that row until
// the process ends; tests use it to meet a lock held by another process.)

#include "Generator.h"
#include "engine/TableEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

using namespace lv26;

namespace {

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int usage() {
    print(stderr, QStringLiteral("usage: lv26-tables create DIR\n"
                                 "       lv26-tables fill DIR N [--seed S]"));
    return 2;
}

QString tableIn(const QString& dir, const char* name) {
    return QDir(dir).absoluteFilePath(QString::fromLatin1(name));
}

// The sequence number after the highest registration number of the sequence in Func.DB.
qint64 nextSequence(const QString& funcPath) {
    auto cursor = engine::open(funcPath, QStringLiteral("Matricula"), engine::OpenMode::ReadOnly);
    cursor->moveToEof();
    engine::Row row;
    while (cursor->prior(row)) {
        const qint64 n = tools::sequenceOf(row.value(0).toString());
        if (n >= 0)
            return n + 1;
    }
    return 1;
}

int create(const QStringList& args) {
    if (args.size() != 1)
        return usage();
    engine::createTables(args[0]);
    print(stdout, QStringLiteral("Created %1 and %2.")
                      .arg(tableIn(args[0], "Func.DB"), tableIn(args[0], "Dados.DB")));
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
    bool ok = false;
    const qint64 count = args.size() == 2 ? args[1].toLongLong(&ok) : 0;
    if (!ok || count < 0)
        return usage();
    const QString func = tableIn(args[0], "Func.DB");
    const QString dados = tableIn(args[0], "Dados.DB");
    const qint64 first = nextSequence(func);
    if (first + count > tools::matriculaCount) {
        print(stderr, QStringLiteral("No room for %1 more registration numbers.").arg(count));
        return 1;
    }

    tools::Generator people(seed);
    qint64 n = 0;
    engine::appendRows(func, [&](engine::Row& row) {
        if (n == count)
            return false;
        const tools::Employee e = people.employee(tools::matriculaFor(first + n++));
        row = {e.matricula, e.nome, e.cpf, e.sexo, e.salHora, QVariant()};
        return true;
    });

    tools::Generator weeks(seed ^ 0x9e3779b97f4a7c15ULL);
    n = 0;
    int week = 0, weeksOfEmployee = 0;
    engine::appendRows(dados, [&](engine::Row& row) {
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

// Locks the first row whose Matricula is the one given, says "locked" and waits for the end
// of its standard input (or to be killed).
int lockRow(const QStringList& args) {
    if (args.size() != 3)
        return usage();
    auto cursor = engine::open(QDir(args[0]).absoluteFilePath(args[1]), QStringLiteral("Matricula"),
                               engine::OpenMode::ReadWrite);
    cursor->setRange(args[2], args[2]);
    engine::Row row;
    if (!cursor->next(row)) {
        print(stderr, QStringLiteral("No row with Matricula %1.").arg(args[2]));
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
        if (command == QLatin1String("lock-row"))
            return lockRow(args);
    } catch (const Error& e) {
        print(stderr, e.message());
        return 1;
    }
    return usage();
}
