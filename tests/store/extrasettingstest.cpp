#include "store/extrasettings.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class ExtraSettingsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void accountValuesFollowTheName() {
        QTemporaryDir dir;
        const ExtraSettings extra(dir.path());
        QVERIFY(extra.setAccountValue(QStringLiteral("Home"), QStringLiteral("Watched"), false));
        QVERIFY(extra.setAccountValue(QStringLiteral("Home/Club [x]"), QStringLiteral("Watched"), true));
        QVERIFY(extra.setAccountValue(QStringLiteral("Work"), QStringLiteral("Watched"), true));
        // Names hold what users type: the group of one never reaches another's.
        QCOMPARE(extra.accountValue(QStringLiteral("Home"), QStringLiteral("Watched")).toBool(), false);
        QCOMPARE(extra.accountValue(QStringLiteral("Home/Club [x]"), QStringLiteral("Watched")).toBool(),
                 true);

        QVERIFY(extra.renameAccount(QStringLiteral("Home"), QStringLiteral("Work")));
        QCOMPARE(extra.accountValue(QStringLiteral("Work"), QStringLiteral("Watched")).toBool(), false);
        QVERIFY(!extra.accountValue(QStringLiteral("Home"), QStringLiteral("Watched")).isValid());

        QVERIFY(extra.removeAccount(QStringLiteral("Work")));
        QVERIFY(!extra.accountValue(QStringLiteral("Work"), QStringLiteral("Watched")).isValid());
        QCOMPARE(ExtraSettings(dir.path())
                     .accountValue(QStringLiteral("Home/Club [x]"), QStringLiteral("Watched")),
                 QVariant(true));
    }

    void unwritableFileIsReported() {
        QTemporaryDir dir;
        // A folder where the file should be: the write fails whoever runs the test.
        QVERIFY(QDir(dir.path()).mkdir(ExtraSettings::FileName()));
        QVERIFY(!ExtraSettings(dir.path()).setValue(QStringLiteral("Shell"), QStringLiteral("x"), 1));
    }
};

int runExtraSettingsTest(int argc, char** argv) {
    ExtraSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "extrasettingstest.moc"
