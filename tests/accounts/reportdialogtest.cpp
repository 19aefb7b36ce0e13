#include "support/modalhelper.h"

#include "accounts/reportdialog.h"
#include "common/messagebox.h"
#include "store/accountstore.h"
#include "support/dialogfixture.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <memory>

namespace {

AccountRecord Account(int n) {
    AccountRecord record;
    record.AccountName = QStringLiteral("Account %1").arg(n);
    record.TotalMessages = 1000 * n;
    record.DeletedMessages = 7 * n;
    return record;
}

} // namespace

class ReportDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QWidget> m_owner;
    AppState m_state;
    testsupport::MessageBoxCapture m_boxes;

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_state = AppState();
        m_state.ProgramFolder = m_dir->path() + QLatin1Char('/');
        m_owner = std::make_unique<QWidget>();
        m_owner->resize(800, 600);
        m_owner->show();
        m_boxes.start();
    }
    void cleanup() {
        m_owner.reset();
        m_dir.reset();
        m_boxes.stop();
    }

    void previewOfEveryAccount() {
        const AccountStore store(m_dir->path());
        for (int n = 1; n <= 3; ++n)
            store.AppendAccount(Account(n));
        bool seen = false;
        WhenModal(QStringLiteral("frmReport"), [&](QWidget* modal) {
            seen = true;
            // Closed whatever the checks say, or the call would never return.
            const auto close = qScopeGuard([modal] { static_cast<QDialog*>(modal)->reject(); });
            auto* dialog = qobject_cast<ReportDialog*>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Accounts Report"));
            QCOMPARE(dialog->parentWidget(), m_owner.get());
            QVERIFY(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
            QVERIFY(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
            // About 9450 x 6795 twips, centred on the owner.
            const QScreen* screen = dialog->screen();
            // As wide as that at least, and wide enough that no tool hides behind the overflow.
            QVERIFY(dialog->width() >= 9450 * screen->logicalDotsPerInchX() / 1440 - 2);
            auto* overflow = dialog->findChild<QWidget*>(QStringLiteral("qt_toolbar_ext_button"));
            QVERIFY(overflow && !overflow->isVisible());
            QVERIFY(qAbs(dialog->height() - 6795 * screen->logicalDotsPerInchY() / 1440) <= 2);
            QVERIFY((dialog->geometry().center() - m_owner->geometry().center()).manhattanLength() <= 40);

            auto* preview = dialog->findChild<QPrintPreviewWidget*>(QStringLiteral("vp"));
            QVERIFY(preview);
            QVERIFY(QTest::qWaitFor([preview] { return preview->pageCount() >= 1; }, 10000));
            // On the pages, so arrow and page keys move through them at once.
            QVERIFY(dialog->focusWidget() && preview->isAncestorOf(dialog->focusWidget()));
            QVERIFY(dialog->focusWidget()->inherits("QGraphicsView"));
            // One-inch margins for whatever is printed from here.
            QCOMPARE(dialog->printer()->pageLayout().margins(QPageLayout::Inch), QMarginsF(1, 1, 1, 1));

            // Tab reaches Print from the pages, and Ctrl+P is Print too.
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QAction* print = nullptr;
            for (QAction* action : dialog->findChildren<QAction*>())
                if (action->text() == QPrintPreviewDialog::tr("Print"))
                    print = action;
            QVERIFY(print);
            QCOMPARE(print->shortcut(), QKeySequence(QKeySequence::Print));
            bool reached = false;
            for (int i = 0; i < 40 && !reached; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                auto* tool = qobject_cast<QToolButton*>(QApplication::focusWidget());
                reached = tool && tool->defaultAction() == print;
            }
            QVERIFY(reached);

            const QString text = dialog->document()->toPlainText();
            for (int n = 1; n <= 3; ++n)
                QVERIFY2(text.contains(QStringLiteral("Account %1").arg(n)), qPrintable(text));

            // Every control the keyboard reaches has a name for a screen reader.
            for (QWidget* child : dialog->findChildren<QWidget*>()) {
                if (!child->isVisibleTo(dialog) || child->focusPolicy() == Qt::NoFocus)
                    continue;
                // A scroll area's viewport is the area itself to a screen reader.
                if (auto* area = qobject_cast<QAbstractScrollArea*>(child->parentWidget());
                    area && area->viewport() == child)
                    continue;
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(child);
                QVERIFY(accessible);
                QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(),
                         qPrintable(QString::fromLatin1(child->metaObject()->className()) + QLatin1Char('/') +
                                    QString::fromLatin1(child->parentWidget()->metaObject()->className())));
            }
        });
        ShowAccountsReport(m_owner.get(), m_state);
        QVERIFY(seen);
        QVERIFY(m_boxes.isEmpty());
        // The store was read afresh, ending on its last record.
        QCOMPARE(m_state.CurrentAccount, Account(3));
    }

    void unreadableStoreIsReportedAndTheReportStillOpens() {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Acc.dat")));
        QString text;
        WhenModal(QStringLiteral("frmReport"), [&](QWidget* modal) {
            const auto close = qScopeGuard([modal] { static_cast<QDialog*>(modal)->reject(); });
            text = static_cast<ReportDialog*>(modal)->document()->toPlainText();
        });
        ShowAccountsReport(m_owner.get(), m_state);

        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
        QVERIFY2(m_boxes.first().text.contains(QStringLiteral("Acc.dat")), qPrintable(m_boxes.first().text));
        QVERIFY2(text.contains(QStringLiteral("DETAILS")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("Account:")), qPrintable(text));
    }
};

QTEST_MAIN(ReportDialogTest)

#include "reportdialogtest.moc"
