// Hostile mail among ordinary mail, through the main window against a real
// server: every message is listed, and Delete Unchecked removes exactly the
// unticked ones, with random ticks and a random sort. TIDEMARSH_HOSTILE_ROUNDS
// sets the number of rounds (the bench target runs a thousand).
#include "e2eharness.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "support/modalhelper.h"
#include "support/testdata.h"

#include <QAction>
#include <QHeaderView>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

using testsupport::CharsetSwitching;
using testsupport::Folded;
using testsupport::Sorted;

namespace {
QList<QByteArray> HostileMail() {
    const QByteArray switching = CharsetSwitching(100 * 1024);
    QByteArray received;
    for (int i = 0; i < 80000; ++i)
        received += "Received: from relay" + QByteArray::number(i) + ".example.net by mx.example.org\r\n";
    const QByteArray nested =
        QByteArray("g: ").repeated(60000) + "x@example.com" + QByteArray(";").repeated(60000);
    return {
        Folded("From", nested) + "Subject: nested groups\r\n",
        Folded("To", nested) + "From: a@example.com\r\nSubject: nested To\r\n",
        Folded("To", switching) + "From: b@example.com\r\n" + Folded("Subject", switching),
        "From: MAILER DAEMON <>\r\nSubject: Undeliverable\r\n",
        QByteArray("From: Pay\xe2\x80\xaePal <pay@example.com>\r\nSubject: a\r\r\n  b\r\n"),
        "From: c@example.com\r\nSubject: " + QByteArray(2 * 1024 * 1024, 'x') + "\r\n",
        received + "From: d@example.com\r\nSubject: too many hops\r\n",
    };
}

} // namespace

class E2eHostileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void hostileMailAmongOrdinary();

private:
    std::unique_ptr<TestMailServer> m_server;
};

void E2eHostileTest::initTestCase() {
    m_server = std::make_unique<TestMailServer>();
    if (!m_server->isValid())
        QSKIP(qPrintable(QStringLiteral("mail server unavailable: ") + m_server->errorString()));
    E2eHarness::TrustTestCa(*m_server);
}

void E2eHostileTest::hostileMailAmongOrdinary() {
    const int rounds = qEnvironmentVariableIsSet("TIDEMARSH_HOSTILE_ROUNDS")
                           ? qEnvironmentVariableIntValue("TIDEMARSH_HOSTILE_ROUNDS")
                           : 4;
    const QList<QByteArray> hostile = HostileMail();
    E2eHarness app;
    TestMailbox first = m_server->createMailbox();
    QVERIFY2(first.isValid(), qPrintable(first.errorString()));
    QVERIFY(app.start(E2eHarness::AccountFor(*m_server, first)));
    ReviewModel* model = app.window().review().model();
    int ticksKept = 0;
    int unticked = 0;
    for (int round = 0; round < rounds; ++round) {
        const quint32 seed = 7000 + static_cast<quint32>(round);
        QRandomGenerator random(seed);
        TestMailbox box = round == 0 ? first : m_server->createMailbox();
        QVERIFY2(box.isValid(), qPrintable(box.errorString()));
        QList<QByteArray> mails;
        const int ordinary = random.bounded(2, 12);
        for (int i = 0; i < ordinary; ++i)
            mails.append("From: Sender " + QByteArray::number(i) + " <s" + QByteArray::number(i) +
                         "@example.org>\r\nSubject: ordinary " + QByteArray::number(random.bounded(1000)) +
                         "\r\n");
        // The first rounds carry every kind; later ones a random few.
        for (int h = 0; h < hostile.size(); ++h)
            if (round < 1 || random.bounded(4) == 0)
                mails.insert(random.bounded(mails.size() + 1), hostile.at(h));
        for (QByteArray& mail : mails)
            mail += "\r\nbody\r\n";
        QVERIFY(box.addMessages(mails));
        app.useMailbox(box);
        app.state().Settings.CheckDonePromptOff = 1;
        app.state().Settings.DeletePromptOff = 1;
        app.boxes.clear();
        app.trigger(Command::CheckMail);
        const QString where = QStringLiteral("seed %1").arg(seed);
        QVERIFY2(app.boxes.isEmpty(),
                 qPrintable(where + u' ' + (app.boxes.isEmpty() ? QString() : app.boxes.first().text)));
        QCOMPARE(model->rowCount(), static_cast<int>(mails.size()));

        ReviewListView* list = app.list();
        const int column = random.bounded(ReviewItem::ColumnCount);
        QHeaderView* header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                                 header->height() / 2));
        QList<int> kept;
        for (int row = 0; row < model->rowCount(); ++row) {
            const bool keep = random.bounded(2) == 0;
            model->setData(model->index(row, 0), keep ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
            if (keep)
                kept.append(model->item(row).MessageNumber);
        }
        ticksKept += static_cast<int>(kept.size());
        unticked += model->rowCount() - static_cast<int>(kept.size());
        if (kept.size() == mails.size()) {
            app.trigger(Command::AcceptAll);
        } else {
            app.trigger(Command::DeleteUnchecked);
            QVERIFY2(app.boxes.isEmpty(), qPrintable(where));
        }
        // Courier answers QUIT before it has removed every file: give it a moment.
        QTRY_VERIFY2_WITH_TIMEOUT(box.remainingMessages() == Sorted(kept), qPrintable(where), 10000);
        QCOMPARE(model->rowCount(), 0);
    }
    qInfo("%d rounds: %d ticked messages all kept, %d unticked all deleted", rounds, ticksKept, unticked);
}

QTEST_MAIN(E2eHostileTest)
#include "e2ehostiletest.moc"
