// Test programs that need a second process (one holding a row lock, one killed midway) start
// their own binary again with a mode argument; these are the two sides of that.
#pragma once

#include "engine/TableEngine.h"

#include <QCoreApplication>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

namespace lv26::test {

// Starts this test program again with `args` and waits for its first line of output, which
// says it is ready.
inline QProcess* startChildProcess(QObject* owner, const QStringList& args) {
    auto* child = new QProcess(owner);
    child->start(QCoreApplication::applicationFilePath(), args);
    if (child->waitForStarted(10000))
        child->waitForReadyRead(30000);
    return child;
}

// Child side: stands on the row of `matricula` in `cursor` (read-write, first index field
// Matricula), locks it as an edit locks it, says "locked" and keeps the lock until the process
// is killed. Returns 1 when there is no such row.
inline int lockRowUntilKilled(engine::Cursor& cursor, const QString& matricula) {
    cursor.setRange(matricula, matricula);
    engine::Row row;
    if (!cursor.next(row))
        return 1;
    cursor.lockCurrent(row);
    std::puts("locked");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

// Child side: lockRowUntilKilled on the employee table file `funcFile`.
inline int holdEmployeeRowLock(const QString& funcFile, const QString& matricula) {
    QString index;
    for (const engine::IndexInfo& info : engine::describe(funcFile).indexes) {
        if (info.fields == QLatin1String("Matricula"))
            index = info.name;
    }
    auto cursor = engine::open(funcFile, index, engine::OpenMode::ReadWrite);
    return lockRowUntilKilled(*cursor, matricula);
}

} // namespace lv26::test
