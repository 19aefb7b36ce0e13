#include "support/modalhelper.h"

#include "accounts/reportdialog.h"
#include "accounts/reportdocument.h"
#include "common/messagebox.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "support/mainwindowfixture.h"
#include "support/testdata.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPrintPreviewWidget>
#include <QTest>
#include <QTextDocument>

#include <memory>
#include <unistd.h>

using testsupport::ReadAll;

namespace {

AccountRecord Account(int n) {
    AccountRecord record;
    record.AccountName = QStringLiteral("Account %1").arg(n);
    record.LoginName = QStringLiteral("user%1").arg(n);
    record.LoginPassword = QStringLiteral(" pass word %1").arg(n).trimmed();
    record.ServerAddress = QStringLiteral("pop%1.example.org:995").arg(n);
    record.LastChecked = QStringLiteral("3/%1/24 10:00:00 AM").arg(n);
    record.TotalMessages = 1000 * n;
    record.DeletedMessages = 7 * n;
    return record;
}

} // namespace

class ReportCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::MainWindowFixture> m_app;
    QList<ui::MessageRequest> m_boxes;
    QList<QMessageBox::StandardButton> m_answers; // given in turn; Ok once they run out

    QString accPath() const { return m_app->filePath(QStringLiteral("Acc.dat")); }

    // Three accounts, then a window started and through its first activation.
    MainWindow& start() {
        const AccountStore store(m_app->path());
        for (int n = 1; n <= 3; ++n)
            store.AppendAccount(Account(n));
        if (!m_app->start())
            qFatal("start-up refused");
        if (!m_app->waitForFirstActivation(10000))
            qFatal("no first activation");
        return m_app->window();
    }

private Q_SLOTS:
    void init() {
        m_app = std::make_unique<testsupport::MainWindowFixture>();
        QVERIFY(m_app->isValid());
        m_boxes.clear();
        m_answers.clear();
        ui::SetMessageBoxHandler([this](const ui::MessageRequest& request) {
            m_boxes.append(request);
            // The pointer is back to normal before anything is said.
            if (QApplication::overrideCursor())
                qWarning("message box under a busy pointer: %s", qPrintable(request.title));
            return m_answers.isEmpty() ? QMessageBox::Ok : m_answers.takeFirst();
        });
    }
    void cleanup() {
        m_app.reset();
        ui::SetMessageBoxHandler({});
    }

    void reportOpensFromTheCommand() {
        MainWindow& w = start();
        w.state().CurrentAccount = AccountRecord();
        int pages = 0;
        QString text;
        WhenModal(QStringLiteral("frmReport"), [&](QWidget* modal) {
            // Closed whatever happens here, or the command would never return.
            const auto close = qScopeGuard([modal] { static_cast<QDialog*>(modal)->reject(); });
            auto* dialog = qobject_cast<ReportDialog*>(modal);
            if (!dialog || dialog->parentWidget() != &w)
                return;
            auto* preview = dialog->findChild<QPrintPreviewWidget*>(QStringLiteral("vp"));
            if (preview && QTest::qWaitFor([preview] { return preview->pageCount() >= 1; }, 10000))
                pages = preview->pageCount();
            text = dialog->document()->toPlainText();
        });
        w.action(Command::AccountsReport)->trigger();

        QCOMPARE(pages, 1);
        QVERIFY2(text.contains(QStringLiteral("Account 3")) &&
                     text.contains(ReportDocument::CountText(3000, QLocale::system())),
                 qPrintable(text));
        QVERIFY(m_boxes.isEmpty());
        // The store was read afresh, ending on its last record.
        QCOMPARE(w.state().CurrentAccount, Account(3));
    }

    void clearCancelledChangesNothing() {
        MainWindow& w = start();
        const QByteArray before = ReadAll(accPath());
        m_answers = {QMessageBox::Cancel};
        w.action(Command::ClearAccountsDetails)->trigger();

        QCOMPARE(m_boxes.size(), 1);
        const ui::MessageRequest& ask = m_boxes.first();
        QCOMPARE(ask.parent, &w);
        QCOMPARE(ask.icon, ui::MessageIcon::Question);
        QCOMPARE(ask.title, QStringLiteral("Clear Accounts Details"));
        QCOMPARE(ask.text,
                 QStringLiteral("This will clear the total message count, deleted message count and the "
                                "last check status for all accounts.\r\n\r\nClear all accounts details?"));
        QCOMPARE(ask.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(ReadAll(accPath()), before);
    }

    void clearResetsEveryAccount() {
        MainWindow& w = start();
        w.action(Command::ClearAccountsDetails)->trigger();

        QCOMPARE(m_boxes.size(), 2);
        const ui::MessageRequest& done = m_boxes.at(1);
        QCOMPARE(done.icon, ui::MessageIcon::Information);
        QCOMPARE(done.title, QStringLiteral("Complete"));
        QCOMPARE(done.text, QStringLiteral("All details for configured accounts have now been reset."));
        QCOMPARE(done.buttons, QMessageBox::Ok);
        QVERIFY(!QApplication::overrideCursor());

        QByteArray expected;
        AccountRecord reset;
        for (int n = 1; n <= 3; ++n) {
            reset = Account(n);
            reset.TotalMessages = 0;
            reset.DeletedMessages = 0;
            reset.LastChecked = QStringLiteral("N/A");
            expected += AccountStore::Encode(reset);
        }
        const QByteArray once = ReadAll(accPath());
        QCOMPARE(once, expected);
        QCOMPARE(w.state().CurrentAccount, reset);

        w.action(Command::ClearAccountsDetails)->trigger();
        QCOMPARE(m_boxes.size(), 4);
        QCOMPARE(ReadAll(accPath()), once);
    }

    void clearThatCannotWriteSaysSoAndKeepsTheStore_data() {
        QTest::addColumn<bool>("folderReadOnly");
        QTest::newRow("temporary file blocked") << false;
        QTest::newRow("folder read-only") << true;
    }
    void clearThatCannotWriteSaysSoAndKeepsTheStore() {
        QFETCH(bool, folderReadOnly);
        MainWindow& w = start();
        const QByteArray before = ReadAll(accPath());
        const QString folder = m_app->path();
        if (folderReadOnly) {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only folders");
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else {
            // A folder where the rewrite's temporary file must go.
            QVERIFY(QDir(folder).mkpath(QStringLiteral("Acc.tmp/kept")));
        }
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(folder,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });

        w.action(Command::ClearAccountsDetails)->trigger();

        QCOMPARE(m_boxes.size(), 2);
        const ui::MessageRequest& error = m_boxes.at(1);
        QCOMPARE(error.icon, ui::MessageIcon::Warning);
        QCOMPARE(error.title, QStringLiteral("Clear Accounts Details"));
        QVERIFY2(error.text.contains(QStringLiteral("Acc.dat")), qPrintable(error.text));
        // The cause, not only the fact.
        QVERIFY2(error.text.contains(QStringLiteral("Acc.tmp")), qPrintable(error.text));
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(ReadAll(accPath()), before);
    }
};

QTEST_MAIN(ReportCommandsTest)

#include "reportcommandstest.moc"
