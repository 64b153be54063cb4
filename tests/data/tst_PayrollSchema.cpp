// The payroll's tables as each storage makes them: on files the exact schema text SQLite
// keeps, on the server the exact catalog (columns, types, collations, identity, indexes, the
// money domain); nothing made when one of them exists already.

#include "DataTestSupport.h"
#include "data/PayrollSchema.h"
#include "engine/SqliteStorage.h"
#include "engine/pg/PgStorage.h"

#include <QFile>
#include <functional>
#include <memory>
#include <sqlite3.h>

Q_DECLARE_METATYPE(lv26::engine::TableDescription)

using namespace lv26;
using namespace lv26::test;

namespace {

// Every schema entry of one SQLite file as "type|name|table|sql", in name order, and its
// journal mode.
QStringList fileSchema(const QString& path) {
    QStringList out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return {QStringLiteral("cannot open ") + path};
    }
    const auto query = [&](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            out << QString::fromUtf8(sqlite3_errmsg(db));
            return;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
                row << (text ? QString::fromUtf8(text) : QStringLiteral("<null>"));
            }
            out << row.join(QLatin1Char('|'));
        }
        sqlite3_finalize(stmt);
    };
    query("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name");
    query("PRAGMA journal_mode");
    sqlite3_close(db);
    return out;
}

// What the server's catalog says of the tables `tables` (server names) in the current schema:
// each column with its type, collation, identity and nullability, each index as the server
// would write it again, and the money domain.
QStringList serverSchema(const QString& conninfo, const QString& tables) {
    const QString in = QStringLiteral("c.relname IN (%1) AND c.relnamespace = "
                                      "current_schema()::regnamespace")
                           .arg(tables);
    QStringList out =
        runSql(conninfo,
               QStringLiteral("SELECT c.relname, a.attname, format_type(a.atttypid, a.atttypmod), "
                              "coalesce(co.collname, '-'), a.attidentity, a.attnotnull "
                              "FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
                              "LEFT JOIN pg_collation co ON co.oid = a.attcollation "
                              "WHERE %1 AND a.attnum > 0 AND NOT a.attisdropped "
                              "ORDER BY c.relname, a.attnum")
                   .arg(in));
    out << runSql(
        conninfo,
        QStringLiteral("SELECT i.indexrelid::regclass::text, pg_get_indexdef(i.indexrelid) "
                       "FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid "
                       "WHERE %1 ORDER BY 1")
            .arg(in));
    out << runSql(conninfo, QStringLiteral("SELECT typname, format_type(typbasetype, typtypmod), "
                                           "typnotnull FROM pg_type WHERE typtype = 'd' AND "
                                           "typnamespace = current_schema()::regnamespace"));
    return out;
}

const QStringList payrollFiles = {
    QStringLiteral("Func.DB|table|Func|Func|CREATE TABLE Func (Matricula CHAR(5) PRIMARY KEY, "
                   "Nome CHAR(40), CPF CHAR(11), Sexo CHAR(1), Sal_Hora MONEY, HorasNoMes "
                   "INTEGER)"),
    QStringLiteral("Func.DB|index|sqlite_autoindex_Func_1|Func|<null>"),
    QStringLiteral("Func.DB|wal"),
    QStringLiteral("Dados.DB|table|Dados|Dados|CREATE TABLE Dados (Matricula CHAR(5), Semana "
                   "SMALLINT, HorasNaSemana SMALLINT)"),
    QStringLiteral("Dados.DB|index|Matricula|Dados|CREATE INDEX Matricula ON Dados (Matricula, "
                   "Semana)"),
    QStringLiteral("Dados.DB|wal"),
};

const QStringList payrollServer = {
    QStringLiteral("dados|rowid|bigint|-|d|t"),
    QStringLiteral("dados|matricula|character varying(5)|C||f"),
    QStringLiteral("dados|semana|smallint|-||f"),
    QStringLiteral("dados|horasnasemana|smallint|-||f"),
    QStringLiteral("func|rowid|bigint|-|d|t"),
    QStringLiteral("func|matricula|character varying(5)|C||f"),
    QStringLiteral("func|nome|character varying(40)|C||f"),
    QStringLiteral("func|cpf|character varying(11)|C||f"),
    QStringLiteral("func|sexo|character varying(1)|C||f"),
    QStringLiteral("func|sal_hora|currency|-||f"),
    QStringLiteral("func|horasnomes|integer|-||f"),
    QStringLiteral("dados_matricula|CREATE INDEX dados_matricula ON public.dados USING btree "
                   "(matricula NULLS FIRST, semana NULLS FIRST, rowid)"),
    QStringLiteral("dados_pkey|CREATE UNIQUE INDEX dados_pkey ON public.dados USING btree (rowid)"),
    QStringLiteral("func_matricula|CREATE UNIQUE INDEX func_matricula ON public.func USING btree "
                   "(matricula NULLS FIRST)"),
    QStringLiteral("func_pkey|CREATE UNIQUE INDEX func_pkey ON public.func USING btree (rowid)"),
    QStringLiteral("currency|double precision|f"),
};

using engine::ColumnInfo;
using engine::ColumnType;
using engine::IndexInfo;
using engine::TableDescription;

// A stock list, which is none of the payroll's: every family, an index on two fields and a
// primary one on text.
TableDescription stockTable() {
    return {QStringLiteral("Stock.DB"),
            {ColumnInfo{QStringLiteral("Code"), ColumnType::Text, 8, {}},
             ColumnInfo{QStringLiteral("Label"), ColumnType::Text, 0, {}},
             ColumnInfo{QStringLiteral("Shelf"), ColumnType::Int16, 0, {}},
             ColumnInfo{QStringLiteral("Units"), ColumnType::Int32, 0, {}},
             ColumnInfo{QStringLiteral("Price"), ColumnType::Money, 0, {}},
             ColumnInfo{QStringLiteral("Weight"), ColumnType::Float, 0, {}}},
            {IndexInfo{QStringLiteral("Code"), QStringLiteral("Code"), true, true},
             IndexInfo{QStringLiteral("Place"), QStringLiteral("Shelf;Label")}}};
}

// The shelves, keyed by an integer.
TableDescription shelfTable() {
    return {QStringLiteral("Shelf.DB"),
            {ColumnInfo{QStringLiteral("Number"), ColumnType::Int32, 0, {}},
             ColumnInfo{QStringLiteral("Room"), ColumnType::Text, 3, {}}},
            {IndexInfo{QStringLiteral("Number"), QStringLiteral("Number"), true, true}}};
}

// What a description says of names, families, sizes and indexes, names in lower case (the
// server keeps them so), in a fixed order.
QStringList shape(const TableDescription& table) {
    QStringList out;
    for (const ColumnInfo& column : table.columns)
        out << QStringLiteral("column %1 %2 %3")
                   .arg(column.name.toLower())
                   .arg(int(column.type))
                   .arg(column.size);
    QStringList indexes;
    for (const IndexInfo& index : table.indexes)
        indexes << QStringLiteral("index %1 %2 primary=%3 unique=%4")
                       .arg(index.name.toLower(), index.fields.toLower())
                       .arg(index.primary)
                       .arg(index.unique);
    indexes.sort();
    return out + indexes;
}

// The code of the engine error `f` throws, its message in `message`; 0 when none.
quint16 failureOf(const std::function<void()>& f, QString* message = nullptr) {
    try {
        f();
    } catch (const EEngineError& error) {
        if (message)
            *message = error.message();
        return error.code();
    }
    return 0;
}

} // namespace

class tst_PayrollSchema : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString conninfo() const { return runServer().conninfo(); }
    // The storage of this run: the temporary folder's files or the private server.
    std::unique_ptr<engine::storage::Storage> storage() const {
        if (testingOnServer())
            return std::make_unique<engine::pg::PgStorage>(conninfo());
        return std::make_unique<engine::SqliteStorage>(dir_.path());
    }
    // The schema of the payroll's tables as this run's storage holds them.
    QStringList payrollSchema() const {
        if (testingOnServer())
            return serverSchema(conninfo(), QStringLiteral("'func', 'dados'"));
        QStringList out;
        for (const QString& name : {QStringLiteral("Func.DB"), QStringLiteral("Dados.DB")}) {
            if (!QFile::exists(dir_.filePath(name)))
                continue;
            for (const QString& line : fileSchema(dir_.filePath(name)))
                out << name + QLatin1Char('|') + line;
        }
        return out;
    }
    // Makes the table `name` ("Func.DB") with one column of its own, as another program would.
    void makeForeignTable(const QString& name) const {
        if (testingOnServer()) {
            const QStringList out =
                runSql(conninfo(), QStringLiteral("CREATE TABLE %1 (kept integer); INSERT INTO %1 "
                                                  "VALUES (7)")
                                       .arg(QFileInfo(name).completeBaseName().toLower()));
            QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
            return;
        }
        QFile file(dir_.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept");
    }
    // What makeForeignTable() made, as it is now.
    QStringList foreignTable(const QString& name) const {
        if (testingOnServer())
            return runSql(conninfo(), QStringLiteral("SELECT * FROM %1")
                                          .arg(QFileInfo(name).completeBaseName().toLower()));
        QFile file(dir_.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return {QString::fromLatin1(file.readAll())};
    }

private Q_SLOTS:
    void init() {
        QString why;
        switch (backendState(&why)) {
        case BackendState::Unavailable:
            QSKIP(qPrintable(why));
        case BackendState::Failed:
            QFAIL(qPrintable(why));
        case BackendState::Ready:
            break;
        }
        QVERIFY(dir_.isValid());
        for (const QString& name : QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY(QFile::remove(dir_.filePath(name)));
        if (testingOnServer()) {
            const QStringList out = dropTables(conninfo(), {"func", "dados", "stock", "shelf"});
            QVERIFY2(out.isEmpty(), qPrintable(out.join(u'\n')));
        }
    }

    // The payroll's tables are made exactly as they always were.
    void payrollTablesInAStorage() {
        createPayrollTables(*storage());
        QCOMPARE(payrollSchema(), testingOnServer() ? payrollServer : payrollFiles);
    }
    void payrollTablesInAFolder() {
        LV26_FILES_ONLY("tables made as files in a folder");
        createPayrollTables(dir_.path());
        QCOMPARE(payrollSchema(), payrollFiles);
    }
    // An existing money domain is used as it is.
    void payrollTablesBesideAnExistingDomain() {
        if (!testingOnServer())
            QSKIP("about the server's money domain");
        QVERIFY(runSql(conninfo(), QStringLiteral("CREATE DOMAIN currency AS double precision"))
                    .isEmpty());
        createPayrollTables(*storage());
        QCOMPARE(payrollSchema(), payrollServer);
    }

    // One table already there: neither is made, the existing one is left as it was, and the
    // message names the first one found in the order Func.DB, Dados.DB.
    void oneExistingTableMakesNone_data() {
        QTest::addColumn<QString>("existing");
        QTest::newRow("Func.DB") << QStringLiteral("Func.DB");
        QTest::newRow("Dados.DB") << QStringLiteral("Dados.DB");
    }
    void oneExistingTableMakesNone() {
        QFETCH(QString, existing);
        makeForeignTable(existing);
        const QStringList before = foreignTable(existing);
        QVERIFY(!before.isEmpty());
        const QString where = testingOnServer() ? QStringLiteral("Table: ") + existing
                                                : QStringLiteral("File: ") +
                                                      QDir(dir_.path()).absoluteFilePath(existing);
        const auto attempt = [&](const std::function<void()>& create) {
            quint16 code = 0;
            QString message;
            try {
                create();
            } catch (const EEngineError& error) {
                code = error.code();
                message = error.message();
            }
            QCOMPARE(code, engine::codes::TableExists);
            QCOMPARE(message, QStringLiteral("Table already exists.\n") + where);
            QCOMPARE(foreignTable(existing), before);
            const QString other =
                existing == u"Func.DB" ? QStringLiteral("Dados.DB") : QStringLiteral("Func.DB");
            if (testingOnServer())
                QCOMPARE(serverSchema(conninfo(), QStringLiteral("'%1'").arg(
                                                      QFileInfo(other).baseName().toLower())),
                         QStringList());
            else
                QVERIFY(!QFile::exists(dir_.filePath(other)));
        };
        attempt([&] { createPayrollTables(*storage()); });
        if (!testingOnServer())
            attempt([&] { createPayrollTables(dir_.path()); });
    }

    // A table that is not the payroll's is made from its description alone and described
    // back the same; its indexes order, refuse and find as the description says.
    void anotherTableIsMadeFromItsDescription() {
        const auto tables = storage();
        tables->createTables({stockTable(), shelfTable()});
        QCOMPARE(shape(tables->describe(QStringLiteral("Stock.DB"))), shape(stockTable()));
        QCOMPARE(shape(tables->describe(QStringLiteral("Shelf.DB"))), shape(shelfTable()));

        auto stock = tables->open(QStringLiteral("Stock.DB"), QStringLiteral("Place"),
                                  engine::OpenMode::ReadWrite);
        stock->insertRow({"B-1", "bolts", 2, 100000, 0.25, 1.5});
        stock->insertRow({"A-7", "axles", 2, 3, 12.5, 40.0});
        stock->insertRow({"N-0", "nails", QVariant(), 70000, 0.01, 0.001});
        stock->insertRow({"C-3", "chains", 1, 12, 3.0, 2.0});
        QString message;
        QCOMPARE(failureOf(
                     [&] {
                         stock->insertRow({"A-7", "again", 9, 1, 1.0, 1.0});
                     },
                     &message),
                 engine::codes::KeyViolation);
        QVERIFY2(message.startsWith(QStringLiteral("Key violation.\nTable: ")),
                 qPrintable(message));
        QStringList order;
        stock->moveToBof();
        engine::Row row;
        while (stock->next(row)) {
            QStringList values;
            for (const QVariant& value : row)
                values << (value.isNull() ? QStringLiteral("-") : value.toString());
            order << values.join(QLatin1Char(' '));
        }
        QCOMPARE(order, (QStringList{"N-0 nails - 70000 0.01 0.001", "C-3 chains 1 12 3 2",
                                     "A-7 axles 2 3 12.5 40", "B-1 bolts 2 100000 0.25 1.5"}));

        auto shelves = tables->open(QStringLiteral("Shelf.DB"), QStringLiteral("Number"),
                                    engine::OpenMode::ReadWrite);
        shelves->insertRow({12, "A1"});
        shelves->insertRow({-3, "B22"});
        QCOMPARE(failureOf([&] { shelves->insertRow({12, "C"}); }), engine::codes::KeyViolation);
        shelves->moveToBof();
        QVERIFY(shelves->next(row));
        QCOMPARE(row, (engine::Row{-3, "B22"}));
        QVERIFY(shelves->next(row));
        QCOMPARE(row, (engine::Row{12, "A1"}));
        QVERIFY(!shelves->next(row));
    }

    // Tables made together are all made or none: one existing makes none of the others.
    void anotherTableBesideAnExistingOneMakesNone() {
        makeForeignTable(QStringLiteral("Shelf.DB"));
        const QStringList before = foreignTable(QStringLiteral("Shelf.DB"));
        QString message;
        QCOMPARE(failureOf(
                     [&] {
                         storage()->createTables({stockTable(), shelfTable()});
                     },
                     &message),
                 engine::codes::TableExists);
        QCOMPARE(message, QStringLiteral("Table already exists.\n") +
                              (testingOnServer() ? QStringLiteral("Table: Shelf.DB")
                                                 : QStringLiteral("File: ") +
                                                       dir_.filePath(QStringLiteral("Shelf.DB"))));
        QCOMPARE(foreignTable(QStringLiteral("Shelf.DB")), before);
        QCOMPARE(failureOf([&] { storage()->describe(QStringLiteral("Stock.DB")); }),
                 engine::codes::TableNotFound);
    }

    // A description no storage can make is refused before anything is made, naming the table
    // and what is wrong in it.
    void descriptionsThatCannotBeMade_data() {
        QTest::addColumn<TableDescription>("table");
        QTest::addColumn<QString>("named");
        const auto withColumn = [](ColumnInfo column) {
            TableDescription table = stockTable();
            table.columns << column;
            return table;
        };
        const auto withIndex = [](IndexInfo index) {
            TableDescription table = stockTable();
            table.indexes << index;
            return table;
        };
        QTest::newRow("no columns")
            << TableDescription{QStringLiteral("Stock.DB"), {}, {}} << QString();
        QTest::newRow("unknown type")
            << withColumn({QStringLiteral("Photo"), ColumnType::Other, 0, QStringLiteral("BLOB")})
            << QStringLiteral("Field: Photo");
        QTest::newRow("auto-increment")
            << withColumn({QStringLiteral("Serial"), ColumnType::AutoInc, 0, {}})
            << QStringLiteral("Field: Serial");
        QTest::newRow("row identity's name")
            << withColumn({QStringLiteral("RowId"), ColumnType::Int32, 0, {}})
            << QStringLiteral("Field: RowId");
        QTest::newRow("name used twice")
            << withColumn({QStringLiteral("LABEL"), ColumnType::Text, 4, {}})
            << QStringLiteral("Field: LABEL");
        QTest::newRow("index on no column")
            << withIndex({QStringLiteral("Colour"), QStringLiteral("Label;Colour")})
            << QStringLiteral("Index: Colour");
        IndexInfo descending{QStringLiteral("Heavy"), QStringLiteral("Weight")};
        descending.descending = true;
        QTest::newRow("descending index")
            << withIndex(descending) << QStringLiteral("Index: Heavy");
        QTest::newRow("second primary index")
            << withIndex({QStringLiteral("Label"), QStringLiteral("Label"), true, true})
            << QStringLiteral("Index: Label");
        TableDescription outside = stockTable();
        outside.tableName = QStringLiteral("../Stock.DB");
        QTest::newRow("not a bare name") << outside << QString();
    }
    void descriptionsThatCannotBeMade() {
        QFETCH(TableDescription, table);
        QFETCH(QString, named);
        if (testingOnServer() && table.tableName.contains(QLatin1Char('/')))
            QSKIP("about the table files: a file name outside the folder");
        QString message;
        QCOMPARE(failureOf(
                     [&] {
                         storage()->createTables({shelfTable(), table});
                     },
                     &message),
                 engine::codes::GeneralError);
        QCOMPARE(message, (QStringList{QStringLiteral("General table engine error."),
                                       QStringLiteral("Table: ") + table.tableName} +
                           (named.isEmpty() ? QStringList() : QStringList{named}))
                              .join(QLatin1Char('\n')));
        QCOMPARE(failureOf([&] { storage()->describe(QStringLiteral("Shelf.DB")); }),
                 engine::codes::TableNotFound);
        QVERIFY(!QFile::exists(QDir(dir_.path()).absoluteFilePath(table.tableName)));
    }
};

QTEST_GUILESS_MAIN(tst_PayrollSchema)
#include "tst_PayrollSchema.moc"
