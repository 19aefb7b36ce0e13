#include "common/appstate.h"
#include "common/messagebox.h"
#include "pop3/session.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"
#include "store/accountstore.h"
#include "store/fixedtext.h"
#include "store/friendsstore.h"
#include "store/headerfiles.h"
#include "support/modalhelper.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
ReviewItem Row(int number, const QString& from, const QString& address, const QString& size = {},
               qint64 bytes = 0) {
    ReviewItem item;
    item.sizeBytes = bytes > 0 ? bytes : number * 100;
    item.MessageNumber = number;
    item.texts[ReviewItem::From] = from;
    item.texts[ReviewItem::Address] = address;
    item.texts[ReviewItem::Subject] = QStringLiteral("Subject %1").arg(number);
    item.texts[ReviewItem::Date] = QStringLiteral("Mon, 7 Dec 2026 1%1:00:00 +0000").arg(number);
    item.texts[ReviewItem::Size] = size.isEmpty() ? QStringLiteral("%1 Bytes").arg(number * 100) : size;
    item.texts[ReviewItem::Content] = QStringLiteral("text/plain");
    item.texts[ReviewItem::Recipients] = QStringLiteral("1");
    return item;
}
} // namespace

class ReviewWidgetsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void viewLooksRight();
    void spaceTicksInAnyColumn();
    void headerClickSortsThenReverses();
    void gesturesNeedRows();
    void checkNoneThenCheckAll();
    void acceptAllEndsTheReview();
    void deleteWithEveryRowTicked();
    void confirmationNotGiven_data();
    void confirmationNotGiven();
    void deleteWithoutUsableSessionStillEndsCleanly();
    void detailsNeedASelection();
    void detailsShowRowAndHeaderFile();
    void addFriends_data();
    void addFriends();
    void addFriendsStoreFailure();
    void accountColumnComesAndGoes();
    void allAccountsDeletionWithoutSessionsEndsCleanly();

private:
    void fill(const QVector<ReviewItem>& rows);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<QWidget> m_owner;
    std::unique_ptr<ReviewController> m_controller;
    std::unique_ptr<ReviewListView> m_view;
    QList<ui::MessageRequest> m_boxes;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    int m_refreshes = 0;
    QStringList m_panel1;
};

void ReviewWidgetsTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_state = std::make_unique<AppState>();
    m_state->ProgramFolder = m_dir->path() + QLatin1Char('/');
    m_refreshes = 0;
    m_panel1.clear();
    m_state->hooks.refreshCommandStates = [this] { ++m_refreshes; };
    m_state->hooks.setPanel1 = [this](const QString& text) { m_panel1.append(text); };
    m_owner = std::make_unique<QWidget>();
    m_controller = std::make_unique<ReviewController>(*m_state, m_owner.get());
    m_view = std::make_unique<ReviewListView>(*m_controller);
    m_boxes.clear();
    m_answer = QMessageBox::Ok;
    ui::SetMessageBoxHandler([this](const ui::MessageRequest& request) {
        m_boxes.append(request);
        return m_answer;
    });
}

void ReviewWidgetsTest::cleanup() {
    ui::SetMessageBoxHandler({});
    m_view.reset();
    m_controller.reset();
    m_owner.reset();
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void ReviewWidgetsTest::fill(const QVector<ReviewItem>& rows) {
    m_controller->model()->setItems(rows);
    m_view->selectionModel()->setCurrentIndex(
        m_controller->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ReviewWidgetsTest::viewLooksRight() {
    QCOMPARE(m_view->objectName(), QStringLiteral("ListView1"));
    QVERIFY(!m_view->rootIsDecorated());
    QVERIFY(m_view->uniformRowHeights());
    QVERIFY(m_view->alternatingRowColors());
    m_view->resize(1100, 400);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    const QList<int> expected{200, 200, 289, 157, 78, 110, 44};
    for (int column = 0; column < 7; ++column)
        QCOMPARE(m_view->columnWidth(column), expected.at(column));
    m_view->header()->resizeSection(2, 30); // a user's drag is overwritten at the next layout
    m_view->resize(770, 300);
    QTRY_COMPARE(m_view->columnWidth(0), 140);
    QCOMPARE(m_view->columnWidth(2), 202);
    QCOMPARE(m_view->columnWidth(6), 30);
}

void ReviewWidgetsTest::spaceTicksInAnyColumn() {
    fill({Row(1, QStringLiteral("a"), {}), Row(2, QStringLiteral("b"), {})});
    m_view->show();
    ReviewModel* model = m_controller->model();
    for (int column : {3, 0, 6}) {
        m_view->setCurrentIndex(model->index(1, column));
        QTest::keyClick(m_view.get(), Qt::Key_Space);
        QVERIFY2(model->item(1).keep, qPrintable(QStringLiteral("column %1").arg(column)));
        QTest::keyClick(m_view.get(), Qt::Key_Space);
        QVERIFY(!model->item(1).keep);
    }
    QVERIFY(!model->item(0).keep);
}

void ReviewWidgetsTest::headerClickSortsThenReverses() {
    fill({Row(1, QStringLiteral("c"), {}, QStringLiteral("9.00 KB"), 9216),
          Row(2, QStringLiteral("a"), {}, QStringLiteral("10.00 KB"), 10240),
          Row(3, QStringLiteral("b"), {}, QStringLiteral("500 Bytes"), 500)});
    m_view->resize(800, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QCOMPARE(m_controller->selectedRow(), 0); // message 1

    QHeaderView* header = m_view->header();
    const QPoint sizeHeader(header->sectionViewportPosition(ReviewItem::Size) +
                                header->sectionSize(ReviewItem::Size) / 2,
                            header->height() / 2);
    const auto numbers = [this] {
        QList<int> out;
        for (const ReviewItem& row : m_controller->model()->items())
            out.append(row.MessageNumber);
        return out;
    };
    QVERIFY(!header->isSortIndicatorShown());
    // By bytes: 500 Bytes, 9.00 KB, 10.00 KB.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
    QCOMPARE(numbers(), (QList<int>{3, 1, 2}));
    QCOMPARE(m_controller->selectedRow(), 1); // still message 1
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), int(ReviewItem::Size));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // The second click reverses, and the indicator says so.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
    QCOMPARE(numbers(), (QList<int>{2, 1, 3}));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
    QCOMPARE(numbers(), (QList<int>{3, 1, 2}));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // Another column starts ascending.
    const QPoint fromHeader(header->sectionViewportPosition(ReviewItem::From) + 20, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, fromHeader);
    QCOMPARE(numbers(), (QList<int>{2, 3, 1}));
    QCOMPARE(header->sortIndicatorSection(), int(ReviewItem::From));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(m_controller->selectedRow(), 2); // message 1 wherever it goes
}

void ReviewWidgetsTest::gesturesNeedRows() {
    m_view->resize(600, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QSignalSpy details(m_view.get(), &ReviewListView::detailsRequested);
    QSignalSpy menu(m_view.get(), &ReviewListView::actionsMenuRequested);
    const QPoint spot(50, 10);
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, spot);
    QTest::mouseClick(m_view->viewport(), Qt::RightButton, {}, spot);
    QCOMPARE(details.count(), 0);
    QCOMPARE(menu.count(), 0);

    fill({Row(1, QStringLiteral("a"), {})});
    const QPoint onRow = m_view->visualRect(m_controller->model()->index(0, 2)).center();
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, onRow);
    QTest::mouseClick(m_view->viewport(), Qt::RightButton, {}, onRow);
    QCOMPARE(details.count(), 1);
    QCOMPARE(menu.count(), 1);
    QCOMPARE(menu.first().first().toPoint(), m_view->viewport()->mapToGlobal(onRow));
}

void ReviewWidgetsTest::checkNoneThenCheckAll() {
    QVector<ReviewItem> rows{Row(1, {}, {}), Row(2, {}, {}), Row(3, {}, {})};
    rows[1].keep = true;
    fill(rows);
    m_controller->CheckNone();
    QCOMPARE(m_controller->model()->firstUnticked(), 0);
    for (int row = 0; row < 3; ++row)
        QVERIFY(!m_controller->model()->item(row).keep);
    m_controller->CheckAll();
    QCOMPARE(m_controller->model()->firstUnticked(), -1);
    QCOMPARE(m_refreshes, 0);
    m_controller->model()->clear();
    m_controller->CheckAll();
    QCOMPARE(m_controller->rowCount(), 0);
}

void ReviewWidgetsTest::acceptAllEndsTheReview() {
    fill({Row(1, {}, {}), Row(2, {}, {}), Row(3, {}, {})});
    m_controller->StartKeepAlive();
    auto* timer1 = m_controller->findChild<QTimer*>(QStringLiteral("Timer1"));
    QVERIFY(timer1);
    QCOMPARE(timer1->interval(), 1000);
    QVERIFY(timer1->isActive());
    m_controller->AcceptAll();
    QCOMPARE(m_controller->rowCount(), 0);
    QVERIFY(!m_controller->keepAliveRunning());
    QVERIFY(!m_state->BusyFlag);
    QCOMPARE(m_refreshes, 1);
    QCOMPARE(m_panel1, QStringList{QString()});
    QCOMPARE(m_controller->selectedRow(), -1);
    QVERIFY(m_boxes.isEmpty());
}

void ReviewWidgetsTest::deleteWithEveryRowTicked() {
    QVector<ReviewItem> rows{Row(1, {}, {}), Row(2, {}, {})};
    rows[0].keep = rows[1].keep = true;
    fill(rows);
    m_controller->StartKeepAlive();
    m_controller->DeleteUnchecked();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().title, QStringLiteral("No Messages to be Deleted"));
    QCOMPARE(m_boxes.first().text,
             QStringLiteral("The action cannot be performed.  All messages have a check mark "
                            "beside them which means that no messages are set to be deleted."));
    QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Information);
    QCOMPARE(m_controller->rowCount(), 2);
    QVERIFY(m_controller->keepAliveRunning());
    QCOMPARE(m_refreshes, 0);

    m_boxes.clear();
    m_controller->model()->clear();
    m_controller->DeleteUnchecked(); // an empty list says the same
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().title, QStringLiteral("No Messages to be Deleted"));
    m_controller->StopKeepAlive();
}

void ReviewWidgetsTest::confirmationNotGiven_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("dontAsk");
    QTest::newRow("Cancel") << "cancel" << false;
    QTest::newRow("Cancel, do not ask again") << "cancel" << true;
    QTest::newRow("Escape") << "escape" << false;
    // Closing the question by its frame is no consent to delete mail for good.
    QTest::newRow("close box") << "close" << true;
}

void ReviewWidgetsTest::confirmationNotGiven() {
    QFETCH(QString, how);
    QFETCH(bool, dontAsk);
    fill({Row(1, {}, {}), Row(2, {}, {})});
    m_state->Settings.DeletePromptOff = 7; // only 1 suppresses the question
    bool seen = false;
    QString caption;
    WhenModal(QStringLiteral("frmConfirm"), [&](QWidget* dialog) {
        seen = true;
        caption = dialog->windowTitle();
        QCOMPARE(
            dialog->findChild<QLabel*>(QStringLiteral("lblMess"))->text(),
            QStringLiteral("This will DELETE all listed messages that do not have a check mark beside them, "
                           "from the server."));
        auto* show = dialog->findChild<QCheckBox*>(QStringLiteral("chkShow"));
        QVERIFY(!show->isChecked());
        show->setChecked(dontAsk);
        if (how == QLatin1String("cancel"))
            dialog->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
    });
    m_controller->DeleteUnchecked();
    QVERIFY(seen);
    QCOMPARE(caption, QStringLiteral("Confirm Deletion"));
    QCOMPARE(m_state->Settings.DeletePromptOff, qint16(dontAsk ? 1 : 0));
    QCOMPARE(m_controller->rowCount(), 2);
    QCOMPARE(m_refreshes, 0);
    QVERIFY(m_boxes.isEmpty());
}

void ReviewWidgetsTest::deleteWithoutUsableSessionStillEndsCleanly() {
    AccountRecord work;
    work.AccountName = QStringLiteral("Work");
    work.DeletedMessages = 5;
    AccountStore(m_state->ProgramFolder).AppendAccount(work);
    m_state->ReviewAccountName = QStringLiteral("Work");
    QVector<ReviewItem> rows{Row(1, {}, {}), Row(2, {}, {}), Row(3, {}, {})};
    rows[1].keep = true;
    fill(rows);
    m_controller->StartKeepAlive();

    bool progressSeen = false;
    bool topMost = false;
    bool closable = true;
    WhenModal(QStringLiteral("frmConfirm"),
              [&](QWidget* dialog) { dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click(); });
    ui::SetMessageBoxHandler([&](const ui::MessageRequest& request) {
        m_boxes.append(request);
        return QMessageBox::Ok;
    });
    m_state->hooks.refreshCommandStates = [&] {
        ++m_refreshes;
        if (QWidget* progress = VisibleTopLevel(QStringLiteral("frmDelStatus"))) {
            progressSeen = true;
            topMost = progress->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            closable = progress->windowFlags().testFlag(Qt::WindowCloseButtonHint);
            QCOMPARE(progress->windowTitle(), QStringLiteral("Deleting Messages"));
            QCOMPARE(progress->findChild<QLabel*>(QStringLiteral("lblStatus"))->text(),
                     QStringLiteral("Deleting unchecked messages from the server..."));
        }
    };
    m_controller->DeleteUnchecked();
    QTRY_VERIFY(!m_controller->deletionRunning());

    QVERIFY(progressSeen);
    QVERIFY(topMost);
    QVERIFY(!closable);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmDelStatus")) == nullptr);
    QCOMPARE(m_controller->rowCount(), 0);
    QVERIFY(!m_controller->keepAliveRunning());
    QVERIFY(!m_state->BusyFlag);
    QCOMPARE(m_refreshes, 2);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().title, QStringLiteral("Message Deletion"));
    QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
    QCOMPARE(m_boxes.first().text,
             QStringLiteral(
                 "One or more of the messages that were to be deleted could not be marked for deletion on "
                 "the server.\r\n\r\nThis can happen if the connection to the server was lost or the "
                 "server would not allow the action."));
    QCOMPARE(AccountStore(m_state->ProgramFolder).ReadAccount(1).DeletedMessages, 5);
}

void ReviewWidgetsTest::detailsNeedASelection() {
    fill({Row(1, QStringLiteral("a"), QStringLiteral("a@x"))});
    // The selection follows the current row: only clearing both leaves no row.
    m_view->selectionModel()->clear();
    QCOMPARE(m_controller->selectedRow(), -1);
    bool opened = false;
    WhenModal(
        QStringLiteral("frmView"),
        [&](QWidget* dialog) {
            opened = true;
            dialog->close();
        },
        300);
    m_controller->MessageDetails();
    m_controller->AddFriends();
    QTest::qWait(350);
    QVERIFY(!opened);
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(FriendsStore(m_state->ProgramFolder).Count(), 0);
}

void ReviewWidgetsTest::detailsShowRowAndHeaderFile() {
    fill({Row(1, QStringLiteral("<b>Eve</b>"), QStringLiteral("eve@example.com"), QStringLiteral("1.50 KB")),
          Row(2, QStringLiteral("Bob"), QStringLiteral("bob@example.com"))});
    HeaderFiles::EnsureDataFolder(m_state->ProgramFolder);
    HeaderFiles::WriteHeaderFile(
        m_state->ProgramFolder, 2,
        QByteArrayLiteral("From: Bob <bob@example.com>\r\nSubject: =?utf-8?q?hi?=\r\n"
                          " folded\r\n"));
    struct Seen {
        QString title, sender, subject, date, size, content, header;
        bool readOnly = false, plain = true;
    };
    auto look = [](Seen& seen) {
        return [&seen](QWidget* dialog) {
            seen.title = dialog->windowTitle();
            for (const char* name : {"lblSender", "lblSubject", "lblDate", "lblSize", "lblContent"})
                seen.plain = seen.plain &&
                             dialog->findChild<QLabel*>(QLatin1String(name))->textFormat() == Qt::PlainText;
            seen.sender = dialog->findChild<QLabel*>(QStringLiteral("lblSender"))->text();
            seen.subject = dialog->findChild<QLabel*>(QStringLiteral("lblSubject"))->text();
            seen.date = dialog->findChild<QLabel*>(QStringLiteral("lblDate"))->text();
            seen.size = dialog->findChild<QLabel*>(QStringLiteral("lblSize"))->text();
            seen.content = dialog->findChild<QLabel*>(QStringLiteral("lblContent"))->text();
            auto* header = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtHeader"));
            seen.readOnly = header->isReadOnly();
            seen.header = header->toPlainText();
            dialog->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
        };
    };

    Seen first;
    WhenModal(QStringLiteral("frmView"), look(first));
    m_controller->MessageDetails();
    QCOMPARE(first.title, QStringLiteral("View Message Details"));
    QVERIFY(first.plain);
    QCOMPARE(first.sender, QStringLiteral("<b>Eve</b> (eve@example.com)"));
    QCOMPARE(first.subject, QStringLiteral("Subject 1"));
    QCOMPARE(first.date, QStringLiteral("Mon, 7 Dec 2026 11:00:00 +0000"));
    QCOMPARE(first.size, QStringLiteral("1.50 KB"));
    QCOMPARE(first.content, QStringLiteral("text/plain"));
    QCOMPARE(first.header,
             QStringLiteral("No header information could be downloaded for the selected message."));
    QVERIFY(first.readOnly);

    m_view->setCurrentIndex(m_controller->model()->index(1, 0));
    Seen second;
    WhenModal(QStringLiteral("frmView"), look(second));
    m_controller->MessageDetails();
    QCOMPARE(second.sender, QStringLiteral("Bob (bob@example.com)"));
    // Three lines, each ended by a line break, shown exactly as stored.
    QCOMPARE(second.header,
             QStringLiteral("From: Bob <bob@example.com>\nSubject: =?utf-8?q?hi?=\n folded\n"));
    QVERIFY(m_boxes.isEmpty()); // no file for the first row is no failure

    // A file that is there but cannot be read (a folder in its place) is told,
    // naming it; the details still open without the header.
    QVERIFY(QDir(HeaderFiles::DataFolder(m_state->ProgramFolder)).mkdir(QStringLiteral("1.dat")));
    m_view->setCurrentIndex(m_controller->model()->index(0, 0));
    Seen third;
    WhenModal(QStringLiteral("frmView"), look(third));
    m_controller->MessageDetails();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
    QVERIFY2(m_boxes.first().text.contains(QStringLiteral("Could not read Data/1.dat: ")),
             qPrintable(m_boxes.first().text));
    QCOMPARE(third.header, first.header);
}

void ReviewWidgetsTest::addFriends_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("friends");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("named"); // the address the messages name
    const QStringList none;
    QTest::newRow("new friend") << "  new@example.com " << QStringList{QStringLiteral("a@b")}
                                << int(QMessageBox::Ok) << QStringList{QStringLiteral("Address Added")}
                                << QStringList{QStringLiteral("a@b"), QStringLiteral("new@example.com")}
                                << "new@example.com";
    QTest::newRow("empty store gets record 1")
        << "Mixed@Example.com" << none << int(QMessageBox::Ok) << QStringList{QStringLiteral("Address Added")}
        << QStringList{QStringLiteral("Mixed@Example.com")} << "Mixed@Example.com";
    QTest::newRow("duplicate by case and blanks")
        << "BOB@example.com " << QStringList{QStringLiteral("x@y"), QStringLiteral("bob@EXAMPLE.com")}
        << int(QMessageBox::Ok) << QStringList{QStringLiteral("Duplicate Address")}
        << QStringList{QStringLiteral("x@y"), QStringLiteral("bob@EXAMPLE.com")} << "BOB@example.com";
    QTest::newRow("name and address in brackets: the address is added")
        << " Mum <mum@family.test>" << none << int(QMessageBox::Ok)
        << QStringList{QStringLiteral("Address Added")} << QStringList{QStringLiteral("mum@family.test")}
        << "mum@family.test";
    QTest::newRow("entry stored with her name is a duplicate")
        << "MUM@family.test" << QStringList{QStringLiteral("Mum <mum@family.test>")} << int(QMessageBox::Ok)
        << QStringList{QStringLiteral("Duplicate Address")}
        << QStringList{QStringLiteral("Mum <mum@family.test>")} << "MUM@family.test";
    QTest::newRow("one blank is no address")
        << " " << none << int(QMessageBox::Ok) << QStringList{QStringLiteral("No Address")} << none << "";
    QTest::newRow("no @, cancelled") << "postmaster" << none << int(QMessageBox::Cancel)
                                     << QStringList{QStringLiteral("Invalid Address")} << none << "";
    QTest::newRow("no @, added anyway")
        << " postmaster " << none << int(QMessageBox::Ok)
        << QStringList{QStringLiteral("Invalid Address"), QStringLiteral("Address Added")}
        << QStringList{QStringLiteral("postmaster")} << "postmaster";
}

void ReviewWidgetsTest::addFriends() {
    QFETCH(QString, address);
    QFETCH(QStringList, friends);
    QFETCH(int, answer);
    QFETCH(QStringList, titles);
    QFETCH(QStringList, stored);
    QFETCH(QString, named);
    FriendsStore store(m_state->ProgramFolder);
    for (const QString& entry : friends)
        store.Append(entry);
    QVector<ReviewItem> rows{Row(1, QStringLiteral("Someone"), address)};
    fill(rows);
    m_answer = static_cast<QMessageBox::StandardButton>(answer);
    m_controller->AddFriends();

    QStringList shownTitles;
    for (const ui::MessageRequest& box : m_boxes)
        shownTitles.append(box.title);
    QCOMPARE(shownTitles, titles);
    QStringList actual;
    for (const auto& entry : store.ReadAll())
        actual.append(entry.second);
    QCOMPARE(actual, stored);
    QVERIFY(!m_controller->model()->item(0).keep); // the list itself is not changed
    QVERIFY(QApplication::overrideCursor() == nullptr);

    for (const ui::MessageRequest& box : m_boxes) {
        if (box.title == QLatin1String("No Address")) {
            QCOMPARE(box.icon, ui::MessageIcon::Warning);
            QCOMPARE(box.text,
                     QStringLiteral("The selected message does not have an address associated with it.  "
                                    "Unable to add this address."));
        } else if (box.title == QLatin1String("Invalid Address")) {
            QCOMPARE(box.icon, ui::MessageIcon::Question);
            QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
            QCOMPARE(box.defaultButton, QMessageBox::Ok);
            QCOMPARE(box.text,
                     QStringLiteral("The selected message does not appear to have a valid email address "
                                    "associated with it.\r\n\r\nAdd this address anyway?"));
        } else if (box.title == QLatin1String("Duplicate Address")) {
            QCOMPARE(box.icon, ui::MessageIcon::Information);
            QCOMPARE(box.text, QStringLiteral("The selected address '") + named +
                                   QStringLiteral("' is already in your Friends List."));
        } else {
            QCOMPARE(box.icon, ui::MessageIcon::Information);
            QCOMPARE(box.text,
                     QStringLiteral("The selected address '") + named +
                         QStringLiteral("' was added to your list of Friends.  Any future messages from "
                                        "this address will be checked for you automatically."));
        }
    }
}

void ReviewWidgetsTest::addFriendsStoreFailure() {
    QVERIFY(QDir(m_state->ProgramFolder).mkdir(QStringLiteral("Friends.dat"))); // cannot be opened as a file
    fill({Row(1, QStringLiteral("Someone"), QStringLiteral("some@one.org"))});
    m_controller->AddFriends();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
    QVERIFY(m_boxes.first().text.startsWith(
        QStringLiteral("The address 'some@one.org' could not be added to your Friends List.")));
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

QTEST_MAIN(ReviewWidgetsTest)
#include "reviewwidgetstest.moc"

namespace {
ReviewItem AccountRow(int account, int number, int fileNumber) {
    ReviewItem item = Row(number, QStringLiteral("Sender %1").arg(fileNumber), QStringLiteral("s@x"));
    item.account = account;
    item.fileNumber = fileNumber;
    return item;
}

std::vector<ReviewAccount> Accounts(const QStringList& names) {
    std::vector<ReviewAccount> accounts;
    for (const QString& name : names)
        accounts.push_back({name, nullptr});
    return accounts;
}
} // namespace

// A review of every account shows the Account column and makes room for it;
// Details reads the row's own header file; the next review of one account is
// as it always was.
void ReviewWidgetsTest::accountColumnComesAndGoes() {
    m_view->resize(1100, 400);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    // Both accounts have a message 1; their files are 1 and 3.
    m_controller->AdoptAllAccounts({AccountRow(0, 1, 1), AccountRow(0, 2, 2), AccountRow(1, 1, 3)},
                                   Accounts({QStringLiteral("Work"), QStringLiteral("Home")}));
    QVERIFY(m_controller->reviewsAllAccounts());
    QCOMPARE(m_view->model()->columnCount(), 8);
    const QList<int> widths{169, 169, 244, 137, 78, 91, 44, 137};
    for (int column = 0; column < 8; ++column)
        QCOMPARE(m_view->columnWidth(column), widths.at(column));
    QCOMPARE(m_view->model()->headerData(7, Qt::Horizontal).toString(), QStringLiteral("Account"));

    QHeaderView* header = m_view->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(7) + 10, header->height() / 2));
    QCOMPARE(m_controller->model()->accountName(0), QStringLiteral("Home"));
    QVERIFY(header->isSortIndicatorShown());

    HeaderFiles::EnsureDataFolder(m_state->ProgramFolder);
    HeaderFiles::WriteHeaderFile(m_state->ProgramFolder, 1, "Subject: Work one\r\n");
    HeaderFiles::WriteHeaderFile(m_state->ProgramFolder, 3, "Subject: Home one\r\n");
    m_view->setCurrentIndex(m_controller->model()->index(0, 2));
    QString shown;
    WhenModal(QStringLiteral("frmView"), [&](QWidget* dialog) {
        shown = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtHeader"))->toPlainText();
        dialog->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    });
    m_controller->MessageDetails();
    QCOMPARE(shown, QStringLiteral("Subject: Home one\n"));

    m_controller->AcceptAll();
    QVERIFY(!m_controller->reviewsAllAccounts());
    QCOMPARE(m_view->model()->columnCount(), 7);
    QVERIFY(!header->isSortIndicatorShown()); // it was on a column that is gone
    fill({Row(1, QStringLiteral("b"), {}), Row(2, QStringLiteral("a"), {})});
    QCOMPARE(m_view->columnWidth(0), 200);
    QCOMPARE(m_view->columnWidth(2), 289);
    QCOMPARE(m_controller->model()->item(0).MessageNumber, 1);
}

// Sessions gone (dropped while idle): nothing can be deleted anywhere, each
// account says so, the list ends and no statistics change.
void ReviewWidgetsTest::allAccountsDeletionWithoutSessionsEndsCleanly() {
    AccountRecord work;
    work.AccountName = QStringLiteral("Work");
    work.DeletedMessages = 5;
    AccountStore(m_state->ProgramFolder).AppendAccount(work);
    m_state->Settings.DeletePromptOff = 1;
    QVector<ReviewItem> rows{AccountRow(0, 1, 1), AccountRow(2, 1, 2), AccountRow(2, 2, 3)};
    rows[1].keep = true;
    m_controller->AdoptAllAccounts(
        rows, Accounts({QStringLiteral("Work"), QStringLiteral("Empty"), QStringLiteral("Home")}));
    m_controller->StartKeepAlive();
    m_controller->DeleteUnchecked();
    QVERIFY(m_controller->deletionRunning());
    QVERIFY(m_state->BusyFlag);
    QTRY_VERIFY(!m_controller->deletionRunning());

    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().title, QStringLiteral("Message Deletion"));
    QCOMPARE(m_boxes.first().icon, ui::MessageIcon::Warning);
    // Listed accounts only, in their order; Empty had no rows.
    QCOMPARE(
        m_boxes.first().text,
        QStringLiteral("Work: nothing was deleted. The server did not confirm the end of the session, so "
                       "its messages stay there.\r\nHome: nothing was deleted. The server did not confirm "
                       "the end of the session, so its messages stay there.\r\n\r\nThis can happen if the "
                       "connection to the server was lost or the server would not allow the action."));
    QCOMPARE(m_panel1.last(), QStringLiteral("Deleted 0 messages; 3 kept on the server."));
    QCOMPARE(m_controller->rowCount(), 0);
    QVERIFY(!m_controller->reviewsAllAccounts());
    QVERIFY(!m_controller->keepAliveRunning());
    QVERIFY(!m_state->BusyFlag);
    QCOMPARE(m_refreshes, 2);
    QVERIFY(VisibleTopLevel(QStringLiteral("frmDelStatus")) == nullptr);
    QCOMPARE(AccountStore(m_state->ProgramFolder).ReadAccount(1).DeletedMessages, 5);
}
