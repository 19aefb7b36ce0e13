// Friends as users add them, through the real main window against a real
// server: the next check ticks their mail and Delete Unchecked keeps it.
#include "e2eharness.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "store/friendsstore.h"
#include "support/modalhelper.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

namespace {

QPushButton* Button(QWidget* dialog, const char* name) {
    return dialog->findChild<QPushButton*>(QLatin1String(name));
}

// The row of the message with that subject; -1 when none is listed.
int RowOf(const ReviewModel& model, const QString& subject) {
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.item(row).text(ReviewItem::Subject) == subject)
            return row;
    return -1;
}

} // namespace

class E2eFriendsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void friendsAsTheirMailShowsThemAreKept();

private:
    std::unique_ptr<TestMailServer> m_server;
};

void E2eFriendsTest::initTestCase() {
    m_server = std::make_unique<TestMailServer>();
    TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
    E2eHarness::TrustTestCa(*m_server);
}

void E2eFriendsTest::friendsAsTheirMailShowsThemAreKept() {
    TestMailbox box = m_server->createMailbox();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    QVERIFY(box.addMessages({"From: Mum <mum@family.test>\r\nSubject: Sunday\r\n\r\nLunch?\r\n",
                             "From: Big Bug bb@bug.com\r\nSubject: Bugs\r\n\r\nSee attached.\r\n",
                             "From: Offers <offer@spam.example>\r\nSubject: Offer\r\n\r\nBuy.\r\n"}));
    E2eHarness app;
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, box)));
    app.state().Settings.CheckDonePromptOff = 1;
    app.state().Settings.DeletePromptOff = 1;

    // Mum as her mail shows her, typed into File > Friends Management > New.
    QString listed, note;
    WhenModal(QStringLiteral("frmFriends"), [&](QWidget* friends) {
        WhenModal(QStringLiteral("frmEnterFriend"), [&](QWidget* entry) {
            QTest::keyClicks(entry->findChild<QLineEdit*>(QStringLiteral("txtFriend")),
                             QStringLiteral("Mum <mum@family.test>"));
            if (const auto* label = entry->findChild<QLabel*>(QStringLiteral("lblNote")))
                note = label->text();
            Button(entry, "cmdOK")->click();
        });
        Button(friends, "cmdNew")->click();
        const QAbstractItemModel* rows = friends->findChild<QTreeView*>(QStringLiteral("ListView1"))->model();
        listed = rows->index(rows->rowCount() - 1, 0).data().toString();
        Button(friends, "cmdClose")->click();
    });
    app.trigger(Command::FriendsManagement);

    app.trigger(Command::CheckMail);
    const ReviewModel& model = *app.window().review().model();
    QCOMPARE(model.rowCount(), 3);
    const int mum = RowOf(model, QStringLiteral("Sunday"));
    const int bug = RowOf(model, QStringLiteral("Bugs"));
    QVERIFY(mum >= 0 && bug >= 0);
    QVERIFY(model.item(mum).keep);
    QCOMPARE(listed, QStringLiteral("mum@family.test"));
    QVERIFY2(note.contains(QStringLiteral("mum@family.test")), qPrintable(note));
    // A sender written without angle brackets: his words as the name, his address to add.
    QCOMPARE(model.item(bug).text(ReviewItem::From), QStringLiteral("Big Bug bb@bug.com"));
    QCOMPARE(model.item(bug).text(ReviewItem::Address), QStringLiteral("bb@bug.com"));
    QVERIFY(!model.item(bug).keep);

    // Add to Friends on his row, then the next check ticks him too.
    ReviewListView* list = app.list();
    list->selectionModel()->setCurrentIndex(list->model()->index(bug, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    app.boxes.clear();
    app.trigger(Command::AddFriends);
    QCOMPARE(app.boxes.size(), 1);
    QCOMPARE(app.boxes.first().title, QStringLiteral("Address Added"));
    QVERIFY2(app.boxes.first().text.contains(QStringLiteral("'bb@bug.com'")),
             qPrintable(app.boxes.first().text));
    app.boxes.clear();

    app.trigger(Command::CheckMail);
    QCOMPARE(model.rowCount(), 3);
    QVERIFY(model.item(RowOf(model, QStringLiteral("Sunday"))).keep);
    QVERIFY(model.item(RowOf(model, QStringLiteral("Bugs"))).keep);
    QVERIFY(!model.item(RowOf(model, QStringLiteral("Offer"))).keep);

    app.trigger(Command::DeleteUnchecked);
    QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
    QTRY_COMPARE_WITH_TIMEOUT(box.remainingMessages(), (QList<int>{1, 2}), 10000);
    QCOMPARE(FriendsStore(app.folder()).ReadAll().size(), 2);
}

QTEST_MAIN(E2eFriendsTest)
#include "e2efriendstest.moc"
