// The preview pane in the main window: shown at first, toggled by its command
// (a tick screen readers hear), remembered with its height from one run to the
// next in Tidemarsh.ini, and reached from the list by Tab and F6.
#include "review/previewpane.h"
#include "review/reviewlistview.h"
#include "shell/mainwindow.h"
#include "shelltestsupport.h"
#include "store/extrasettings.h"
#include "support/mainwindowfixture.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QTest>
#include <QToolBar>

using shelltest::In;

class PreviewLayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::MainWindowFixture> m_app;
    shelltest::WizardCloser m_wizardCloser;

    MainWindow& start() {
        if (!m_app->start() || !m_app->waitForFirstActivation(5000))
            qFatal("start-up failed");
        return m_app->window();
    }
    QSplitter* split() const { return m_app->window().findChild<QSplitter*>(QStringLiteral("splitReview")); }
    PreviewPane* pane() const {
        return m_app->window().findChild<PreviewPane*>(QStringLiteral("PreviewPane"));
    }
    QAction* toggle() const { return m_app->window().action(Command::PreviewPane); }
    QVariant stored(const QString& key) const {
        return QSettings(In(m_app->path(), "Tidemarsh.ini"), QSettings::IniFormat)
            .value(QStringLiteral("Layout/") + key);
    }

private Q_SLOTS:
    void init() {
        m_app = std::make_unique<testsupport::MainWindowFixture>();
        QVERIFY(m_app->isValid());
    }
    void cleanup() { m_app.reset(); }

    void shownAtFirstAndToggled() {
        MainWindow& w = start();
        QVERIFY(split() && pane());
        QCOMPARE(w.centralWidget(), split());
        QCOMPARE(split()->orientation(), Qt::Vertical);
        QCOMPARE(split()->widget(0), w.findChild<QWidget*>(QStringLiteral("ListView1")));
        QCOMPARE(split()->widget(1), pane());
        QVERIFY(!pane()->isHidden());
        QVERIFY(toggle()->isCheckable() && toggle()->isChecked());
        QVERIFY(w.menu(QStringLiteral("mnuActions"))->actions().contains(toggle()));
        QVERIFY(w.findChild<QToolBar*>(QStringLiteral("ToolBar1"))->actions().contains(toggle()));

        // Its key, from the window; the tick follows and screen readers read it.
        QMenu* actions = w.menu(QStringLiteral("mnuActions"));
        const auto itemState = [&] {
            QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(actions);
            for (int i = 0; i < menu->childCount(); ++i)
                if (menu->child(i)->text(QAccessible::Name).contains(QStringLiteral("Preview Pane")))
                    return menu->child(i)->state();
            return QAccessible::State();
        };
        QVERIFY(itemState().checkable);
        QVERIFY(itemState().checked);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F8);
        QVERIFY(pane()->isHidden());
        QVERIFY(!toggle()->isChecked());
        QVERIFY(!itemState().checked);
        w.DispatchCommand(Command::PreviewPane); // from elsewhere than the bars: the tick follows
        QVERIFY(!pane()->isHidden());
        QVERIFY(toggle()->isChecked());
    }

    // What the exit path stores, the next start shows; what it cannot read, it ignores.
    void rememberedAcrossRuns_data() {
        QTest::addColumn<bool>("shown");
        QTest::newRow("hidden") << false;
        QTest::newRow("shown") << true;
    }
    void rememberedAcrossRuns() {
        QFETCH(bool, shown);
        MainWindow& w = start();
        w.showNormal();
        w.resize(800, 600);
        QTRY_VERIFY(split()->sizes().value(1) > 0);
        const int total = split()->sizes().value(0) + split()->sizes().value(1);
        const QList<int> heights{total - 150, 150}; // not the splitter's own proportions
        split()->setSizes(heights);
        QCOMPARE(split()->sizes(), heights);
        if (!shown)
            toggle()->trigger();
        w.ExitApplication();
        QCOMPARE(stored(QStringLiteral("PreviewPane")).toBool(), shown);
        QCOMPARE(stored(QStringLiteral("PreviewHeights")).toString(),
                 QStringLiteral("%1,150").arg(total - 150));

        MainWindow& again = start();
        QCOMPARE(pane()->isHidden(), !shown);
        QCOMPARE(toggle()->isChecked(), shown);
        if (!shown)
            toggle()->trigger();
        QTRY_VERIFY(split()->sizes().value(1) > 0);
        // Scaled to the window the placement gives back, so compare the pane's share.
        const QList<int> now = split()->sizes();
        QVERIFY2(qAbs(now.at(1) * total - 150 * (now.at(0) + now.at(1))) <= 2 * total,
                 qPrintable(QStringLiteral("%1,%2").arg(now.at(0)).arg(now.at(1))));
        Q_UNUSED(again);
    }

    void unreadableLayoutFallsBack() {
        const ExtraSettings extra(m_app->path());
        QVERIFY(
            extra.setValue(QStringLiteral("Layout"), QStringLiteral("PreviewPane"), QStringLiteral("maybe")));
        QVERIFY(extra.setValue(QStringLiteral("Layout"), QStringLiteral("PreviewHeights"),
                               QStringLiteral("-5,x")));
        MainWindow& w = start();
        w.showNormal();
        w.resize(800, 600);
        QVERIFY(!pane()->isHidden()); // "maybe" is not false
        QTRY_VERIFY(split()->sizes().value(1) > 0);
        // The splitter's own proportions: the list above takes the larger part.
        QVERIFY(split()->sizes().at(0) > split()->sizes().at(1));
    }

    // Tab goes from the list to the preview's text; F6 jumps there and back.
    void keyboardReachesThePane() {
        MainWindow& w = start();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* list = w.findChild<ReviewListView*>(QStringLiteral("ListView1"));
        auto* text = w.findChild<QPlainTextEdit*>(QStringLiteral("txtPreview"));
        list->setFocus();
        QVERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), text);
        QTest::keyClick(text, Qt::Key_F6);
        QCOMPARE(QApplication::focusWidget(), list);
        QTest::keyClick(list, Qt::Key_F6);
        QCOMPARE(QApplication::focusWidget(), text);
        // Hiding the pane with the focus in it gives the focus to the list, and F6 stays there.
        toggle()->trigger();
        QCOMPARE(QApplication::focusWidget(), list);
        QTest::keyClick(list, Qt::Key_F6);
        QCOMPARE(QApplication::focusWidget(), list);
    }
};

QTEST_MAIN(PreviewLayoutTest)
#include "previewlayouttest.moc"
