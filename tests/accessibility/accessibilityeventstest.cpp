#include "reviewlistfixture.h"
#include "shell/mainwindow.h"

#include <QAccessible>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

// What is announced while a screen reader listens. Qt sends accessibility
// events only while its AT-SPI bridge is live, so this runs on an X display
// with a session bus and an accessibility bus (run-with-atspi.sh); the events
// are caught before they reach the bridge.
namespace {

struct Recorded {
    QAccessible::Event type;
    QObject* object;
    int child;
    QAccessible::State changed;
};
QList<Recorded> g_events;

void Record(QAccessibleEvent* event) {
    Recorded r{event->type(), event->object(), event->child(), {}};
    if (event->type() == QAccessible::StateChanged)
        r.changed = static_cast<QAccessibleStateChangeEvent*>(event)->changedStates();
    g_events.append(r);
}

// Child numbers of the tick announcements made for view.
QList<int> TickEvents(const QObject* view) {
    QList<int> children;
    for (const Recorded& r : g_events)
        if (r.type == QAccessible::StateChanged && r.object == view && r.changed.checked)
            children.append(r.child);
    return children;
}

} // namespace

class AccessibilityEventsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void tickChangesAreAnnounced();
    void longListsAnnounceWhatIsOnScreen();
    void statusTextsAreAnnounced();

private:
    QAccessible::UpdateHandler m_previousHandler = nullptr;
};

void AccessibilityEventsTest::initTestCase() {
    // Asking for the application's interface wakes the bridge; it connects to the bus on its own time.
    QAccessible::queryAccessibleInterface(qApp);
    if (!QTest::qWaitFor([] { return QAccessible::isActive(); }, 20000))
        QFAIL("Qt's accessibility bridge did not come up (no accessibility bus?)");
    m_previousHandler = QAccessible::installUpdateHandler(&Record);
}

void AccessibilityEventsTest::init() {
    g_events.clear();
}

void AccessibilityEventsTest::cleanupTestCase() {
    QAccessible::installUpdateHandler(m_previousHandler);
}

void AccessibilityEventsTest::tickChangesAreAnnounced() {
    ReviewList list(5);
    QVERIFY(QTest::qWaitForWindowExposed(&list.window));

    // By the tick's own action.
    QAccessibleInterface* tick = list.table()->cellAt(1, 0);
    g_events.clear();
    tick->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(list.model()->item(1).keep);
    QCOMPARE(TickEvents(list.view), QList<int>{CellChild(1, 0)});
    // The event names the cell that changed, and that cell now says checked.
    QAccessibleStateChangeEvent probe(list.view, {});
    probe.setChild(TickEvents(list.view).first());
    QCOMPARE(probe.accessibleInterface(), tick);
    QVERIFY(probe.accessibleInterface()->state().checked);

    // By Space on the row.
    g_events.clear();
    list.view->setFocus();
    QTest::keyClick(list.view, Qt::Key_Space); // row 0 was ticked
    QVERIFY(!list.model()->item(0).keep);
    QCOMPARE(TickEvents(list.view), QList<int>{CellChild(0, 0)});

    // By Check All: every row is reported.
    g_events.clear();
    list.controller->CheckAll();
    QCOMPARE(TickEvents(list.view), (QList<int>{CellChild(0, 0), CellChild(1, 0), CellChild(2, 0),
                                                CellChild(3, 0), CellChild(4, 0)}));

    // No change, nothing said.
    g_events.clear();
    list.model()->setKeep(2, true);
    QVERIFY(TickEvents(list.view).isEmpty());
}

void AccessibilityEventsTest::longListsAnnounceWhatIsOnScreen() {
    ReviewList list(2000);
    QVERIFY(QTest::qWaitForWindowExposed(&list.window));
    list.view->scrollTo(list.model()->index(1000, 0), QAbstractItemView::PositionAtTop);
    list.view->selectionModel()->setCurrentIndex(
        list.model()->index(1999, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list.view->scrollTo(list.model()->index(1000, 0), QAbstractItemView::PositionAtTop);
    const int top = list.view->indexAt(QPoint(0, 0)).row();
    QVERIFY(top >= 900 && top <= 1000);
    g_events.clear();
    list.controller->CheckNone();
    const QList<int> said = TickEvents(list.view);
    // The rows on screen and the current row, not two thousand events.
    QVERIFY2(said.size() > 3 && said.size() < 200, qPrintable(QString::number(said.size())));
    QVERIFY(said.contains(CellChild(top, 0)));
    QVERIFY(said.contains(CellChild(1999, 0)));
    QVERIFY(!said.contains(CellChild(0, 0)));
}

void AccessibilityEventsTest::statusTextsAreAnnounced() {
    QTemporaryDir dir;
    MainWindow window(dir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    g_events.clear();
    window.SetPanel1(QStringLiteral("Account: Home - 12 Message(s) to Review"));
    window.SetPanel2(QStringLiteral("Last Check: 08/12/2026 06:00"));
    for (const char* name : {"panel1", "panel2"}) {
        auto* panel = window.findChild<QLabel*>(QLatin1String(name));
        QVERIFY(panel);
        const bool announced = std::any_of(g_events.cbegin(), g_events.cend(), [panel](const Recorded& r) {
            return r.object == panel && r.type == QAccessible::NameChanged;
        });
        QVERIFY2(announced, name);
        QCOMPARE(QAccessible::queryAccessibleInterface(panel)->text(QAccessible::Name), panel->text());
    }
}

QTEST_MAIN(AccessibilityEventsTest)
#include "accessibilityeventstest.moc"
