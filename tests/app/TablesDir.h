#pragma once

// A temporary working folder with the program's empty tables, made by the lv26-tables tool.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

inline QString lv26TablesTool() {
    return QStringLiteral(LV26_BINARY_DIR "/tools/lv26-tables");
}

// Creates Func.DB and Dados.DB in `dir`; returns false (with a test failure) when the tool
// fails.
inline bool createTables(const QString& dir) {
    QProcess tool;
    tool.start(lv26TablesTool(), {QStringLiteral("create"), dir});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0) {
        qWarning("lv26-tables failed: %s", tool.readAllStandardError().constData());
        return false;
    }
    return true;
}
