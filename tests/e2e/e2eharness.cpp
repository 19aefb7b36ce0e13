#include "e2eharness.h"

#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "store/accountstore.h"
#include "store/headerfiles.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTest>

E2eHarness::E2eHarness() {
    ui::SetMessageBoxHandler([this](const ui::MessageRequest& request) {
        boxes.append(request);
        return QMessageBox::Ok;
    });
}

E2eHarness::~E2eHarness() {
    m_app.closeWindow();
    // The last check's header files may still be queued for the background writer:
    // let them land while the program folder exists, and deliver any report they
    // queued to this harness, not to the next test's.
    HeaderFiles::WaitForPendingWrites();
    const qsizetype before = boxes.size();
    QCoreApplication::sendPostedEvents();
    ui::SetMessageBoxHandler({});
    for (qsizetype i = before; i < boxes.size(); ++i)
        qWarning("message after the test's end: %s", qPrintable(boxes.at(i).text));
}

QString E2eHarness::folder() const {
    return m_app.path() + QLatin1Char('/');
}

bool E2eHarness::start(const AccountRecord& account) {
    if (!m_app.isValid())
        return false;
    AccountStore(folder()).AppendAccount(account);
    return restart();
}

bool E2eHarness::restart() {
    if (!m_app.start())
        return false;
    // The first activation counts the accounts; offscreen it may never come.
    if (!m_app.waitForFirstActivation(2000)) {
        m_app.state().AccountCount = AccountStore(folder()).CountAccounts();
        m_app.window().RefreshCommandStates();
    }
    return m_app.state().AccountCount == 1;
}

ReviewListView* E2eHarness::list() const {
    return m_app->findChild<ReviewListView*>(QStringLiteral("ListView1"));
}

QString E2eHarness::panel1() const {
    return m_app.panel1();
}

QString E2eHarness::panel2() const {
    return m_app.panel2();
}

void E2eHarness::trigger(Command command) {
    QAction* action = m_app->action(command);
    QVERIFY(action);
    QVERIFY2(action->isEnabled(), qPrintable(action->objectName() + QStringLiteral(" is disabled")));
    action->trigger();
    waitUntilIdle();
}

void E2eHarness::waitUntilIdle() {
    // A check or a deletion runs on after the command returns; its end (and
    // the message it shows) comes from the event loop.
    QVERIFY2(QTest::qWaitFor([this] { return !m_app.window().isWorking(); }, 180000),
             "the check or deletion did not end");
}

AccountRecord E2eHarness::account() const {
    return AccountStore(folder()).ReadAccount(1);
}

void E2eHarness::writeAccount(const AccountRecord& record) {
    AccountStore(folder()).WriteAccount(1, record);
}

void E2eHarness::useMailbox(const TestMailbox& box) {
    AccountRecord record = account();
    record.LoginName = box.user();
    record.LoginPassword = box.password();
    writeAccount(record);
}

QStringList E2eHarness::headerFiles() const {
    // The check hands most files to the background writer: look once it is done.
    HeaderFiles::WaitForPendingWrites();
    QStringList names =
        QDir(HeaderFiles::DataFolder(folder())).entryList(QDir::Files | QDir::Hidden | QDir::System);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.section(QLatin1Char('.'), 0, 0).toInt() < b.section(QLatin1Char('.'), 0, 0).toInt();
    });
    return names;
}

AccountRecord E2eHarness::AccountFor(const TestMailServer& server, const TestMailbox& box) {
    AccountRecord account;
    account.AccountName = QStringLiteral("Work");
    account.LoginName = box.user();
    account.LoginPassword = box.password();
    account.ServerAddress = server.host() + QLatin1Char(':') + QString::number(server.pop3Port());
    return account;
}

void E2eHarness::TrustTestCa(const TestMailServer& server) {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromPath(server.caFile()));
    QSslConfiguration::setDefaultConfiguration(config);
}
