#pragma once

// Which backend a test run keeps its tables on. A run keeps them as files, or, with
// LV26_TEST_BACKEND=server in the environment, on a private PostgreSQL server started once for
// the process (tests/pg-test-server.sh), so that the same test bodies run on both backends.

#include "PgTestServer.h"

#include <QCoreApplication>
#include <QtTest>

namespace lv26::test {

// True when this run keeps its tables on the private server.
inline bool testingOnServer() {
    return qEnvironmentVariable("LV26_TEST_BACKEND") == QLatin1String("server");
}

// The run's private server, started on first use and stopped when the application ends.
inline TestServer& runServer() {
    static TestServer* server = [] {
        auto* made = new TestServer;
        qAddPostRoutine([] { delete &runServer(); });
        return made;
    }();
    return *server;
}

enum class BackendState { Ready, Unavailable, Failed };

// Whether the backend of this run can hold tables; `why` says why not. Starts the server on
// the first call of a server run.
inline BackendState backendState(QString* why) {
    if (!testingOnServer())
        return BackendState::Ready;
    static BackendState state = BackendState::Failed;
    static QString reason;
    static bool tried = false;
    if (!tried) {
        tried = true;
        bool unavailable = false;
        if (runServer().start(&reason, &unavailable))
            state = BackendState::Ready;
        else
            state = unavailable ? BackendState::Unavailable : BackendState::Failed;
    }
    *why = reason;
    return state;
}

} // namespace lv26::test

// Makes `target` a new `Fixture`, or skips the case (PostgreSQL cannot run here) or fails it
// when the run's backend cannot hold tables.
#define LV26_MAKE_WITH_BACKEND(target, Fixture)                                                    \
    do {                                                                                           \
        QString why_;                                                                              \
        switch (::lv26::test::backendState(&why_)) {                                               \
        case ::lv26::test::BackendState::Unavailable:                                              \
            QSKIP(qPrintable(why_));                                                               \
        case ::lv26::test::BackendState::Failed:                                                   \
            QFAIL(qPrintable(why_));                                                               \
        case ::lv26::test::BackendState::Ready:                                                    \
            break;                                                                                 \
        }                                                                                          \
        (target) = std::make_unique<Fixture>();                                                    \
    } while (false)

// Skips a case about the SQLite files themselves on a server run, saying why.
#define LV26_FILES_ONLY(why)                                                                       \
    do {                                                                                           \
        if (::lv26::test::testingOnServer())                                                       \
            QSKIP("about the table files: " why);                                                  \
    } while (false)
