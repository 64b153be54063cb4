// The message table: placeholders filled in order, numbers in general format under the
// regional decimal separator, texts looked up by position.

#include "base/Messages.h"

#include <QLocale>
#include <QTest>

using namespace lv26;

class tst_Messages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("pt_BR"))); }

    void messages() {
        QCOMPARE(formatMessage("%s|%g|%%|%s", {"a", 12.5}), QStringLiteral("a|12,5|%|%s"));
        QCOMPARE(formatG(-2147483648.0), QStringLiteral("-2147483648"));
        QCOMPARE(msg(Message::FieldRequired, {"Nome"}),
                 QStringLiteral("Field 'Nome' must have a value"));
    }
};

QTEST_GUILESS_MAIN(tst_Messages)
#include "tst_Messages.moc"
