#include "e2eharness.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "store/friendsstore.h"
#include "support/modalhelper.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>

// The daily loop with the keyboard alone, against a real server: F5, arrows,
// Home and End, Space, the Actions menu by its access keys, Enter to confirm.
class E2eKeyboardTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void dailyLoopWithoutAMouse();

private:
    std::unique_ptr<TestMailServer> m_server;
};

namespace {
QByteArray Mail(int n, const QByteArray& from) {
    return "From: " + from + "\r\nTo: me@example.org\r\nSubject: Message " + QByteArray::number(n) +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\nHello.\r\n";
}

// Presses key on whatever has the keyboard focus now, as a user's keyboard would.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::activePopupWidget();
    if (!target)
        target = QApplication::focusWidget();
    if (!target)
        target = QApplication::activeWindow();
    QVERIFY2(target, "nothing to type into");
    QTest::keyClick(target, key, modifiers);
}
} // namespace

void E2eKeyboardTest::initTestCase() {
    m_server = std::make_unique<TestMailServer>();
    TIDEMARSH_REQUIRE_MAILSERVER(*m_server);
    E2eHarness::TrustTestCa(*m_server);
}

void E2eKeyboardTest::dailyLoopWithoutAMouse() {
    TestMailbox box = m_server->createMailbox();
    QVERIFY2(box.isValid(), qPrintable(box.errorString()));
    QList<QByteArray> mails;
    for (int n = 1; n <= 6; ++n)
        mails.append(
            Mail(n, n == 2 ? "Friend <friend@example.com>" : "s" + QByteArray::number(n) + "@example.org"));
    QVERIFY(box.addMessages(mails));

    E2eHarness app;
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, box)));
    FriendsStore(app.folder()).Append(QStringLiteral("friend@example.com"));
    app.state().Settings.CheckDonePromptOff = 0;
    app.state().Settings.DeletePromptOff = 0;
    MainWindow& window = app.window();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // F5 checks; the summary opens on OK, so Enter (not Space on its check box) closes it.
    QString summaryFocus;
    WhenModal(QStringLiteral("frmCheckDone"), [&](QWidget* dialog) {
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog))
            qWarning("the dialog never became active");
        summaryFocus = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    });
    Press(Qt::Key_F5);
    app.waitUntilIdle();
    QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
    QCOMPARE(summaryFocus, QStringLiteral("cmdOK"));
    QCOMPARE(app.state().Settings.CheckDonePromptOff, qint16(0));
    ReviewModel* model = window.review().model();
    QCOMPARE(model->rowCount(), 6);
    QVERIFY(model->item(1).keep); // the friend's message arrives ticked

    // The list has the focus after a check; the first row is the row.
    window.activateWindow(); // without a window manager nothing gives it back
    ReviewListView* list = app.list();
    QTRY_VERIFY_WITH_TIMEOUT(list->hasFocus(), 10000);
    QCOMPARE(window.review().selectedRow(), 0);

    Press(Qt::Key_End);
    QCOMPARE(window.review().selectedRow(), 5);
    Press(Qt::Key_Space); // keep message 6
    Press(Qt::Key_Home);
    Press(Qt::Key_Down);
    Press(Qt::Key_Down);
    QCOMPARE(window.review().selectedRow(), 2);
    Press(Qt::Key_Space); // keep message 3
    Press(Qt::Key_Up);
    QCOMPARE(window.review().selectedRow(), 1);

    // An assistive tool selects the friend's row without moving the current
    // row; Space must act on that row, which is now also the current one.
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(list);
    QVERIFY(table && table->tableInterface());
    QVERIFY(table->tableInterface()->selectRow(4));
    QCOMPARE(list->currentIndex().row(), 4);
    Press(Qt::Key_Space); // keep message 5
    list->selectionModel()->select(model->index(1, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QCOMPARE(list->currentIndex().row(), 1);
    Press(Qt::Key_Space); // the friend's message 2 is unticked: deleted
    QList<int> kept;
    for (const ReviewItem& item : model->items())
        if (item.keep)
            kept.append(item.MessageNumber);
    std::sort(kept.begin(), kept.end());
    QCOMPARE(kept, (QList<int>{3, 5, 6}));

    // Actions > Delete Unchecked by its access keys; the question opens on OK and Enter confirms.
    QString confirmFocus;
    WhenModal(QStringLiteral("frmConfirm"), [&](QWidget* dialog) {
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog))
            qWarning("the dialog never became active");
        // The dialog's own focus: closing the menu may hand the application's focus around meanwhile.
        confirmFocus = dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString();
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    });
    Press(Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMenu*>(QApplication::activePopupWidget()), 10000);
    QCOMPARE(QApplication::activePopupWidget()->objectName(), QStringLiteral("mnuActions"));
    Press(Qt::Key_D);
    app.waitUntilIdle();
    QCOMPARE(confirmFocus, QStringLiteral("cmdOK"));
    QCOMPARE(app.state().Settings.DeletePromptOff, qint16(0));
    QVERIFY2(app.boxes.isEmpty(), qPrintable(app.boxes.isEmpty() ? QString() : app.boxes.first().text));
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(box.remainingMessages(), kept);
    QCOMPARE(app.account().DeletedMessages, 3);
}

QTEST_MAIN(E2eKeyboardTest)
#include "e2ekeyboardtest.moc"
