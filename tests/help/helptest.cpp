#include "common/messagebox.h"
#include "help/helplauncher.h"
#include "help/helpwindow.h"
#include "support/dialogfixture.h"
#include "support/helpfixture.h"
#include "support/modalhelper.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QHelpContentWidget>
#include <QHelpEngineCore>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QWindow>

using testsupport::BuiltHelpFile;

namespace {

const QString kMissingText =
    QStringLiteral("Unable to find the QUILLORE Tidemarsh Help file.  Please reinstall "
                   "QUILLORE Tidemarsh to replace the Help system.");

QTextBrowser* Browser(QWidget* window) {
    return window ? window->findChild<QTextBrowser*>(QStringLiteral("helpBrowser")) : nullptr;
}

QString PageName(QWidget* window) {
    QTextBrowser* browser = Browser(window);
    return browser ? browser->source().fileName() : QString();
}

int VisibleHelpWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("main") && widget->isVisible())
            ++count;
    return count;
}

// Stands in for the desktop's web browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class HelpTest : public QObject {
    Q_OBJECT

    testsupport::PrivateHelpCache m_cache;
    QTemporaryDir m_folder; // a program folder with the built help file
    QString m_programFolder;
    testsupport::MessageBoxCapture m_messages;

    void request(const QString& kind, const QString& folder, int topic) {
        if (kind == QLatin1String("contents"))
            help::ShowContents(folder, nullptr);
        else if (kind == QLatin1String("topic"))
            help::ShowTopic(folder, topic, nullptr);
        else
            QVERIFY(!help::HelpFileExists(folder, nullptr));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFileInfo(BuiltHelpFile()).isFile(), qPrintable(BuiltHelpFile()));
        m_programFolder = m_folder.path() + QLatin1Char('/');
        QVERIFY(testsupport::InstallHelpFile(m_programFolder));
    }

    void init() { m_messages.start(); }

    void cleanup() {
        help::CloseHelpWindow();
        m_messages.stop();
    }

    void missingFileWarnsOnceAndOpensNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("topic");
        QTest::addColumn<bool>("folderInstead"); // a folder named like the help file is no help file
        QTest::newRow("contents") << "contents" << 0 << false;
        QTest::newRow("wizard topic") << "topic" << 5 << false;
        QTest::newRow("editor topic") << "topic" << 6 << false;
        QTest::newRow("options topic") << "topic" << 12 << false;
        QTest::newRow("existence check") << "exists" << 0 << false;
        QTest::newRow("folder in its place") << "contents" << 0 << true;
    }

    void missingFileWarnsOnceAndOpensNothing() {
        QFETCH(QString, kind);
        QFETCH(int, topic);
        QFETCH(bool, folderInstead);
        QTemporaryDir empty;
        const QString folder = empty.path() + QLatin1Char('/');
        if (folderInstead)
            QVERIFY(QDir(folder).mkdir(help::HelpFileName()));

        request(kind, folder, topic);

        QCOMPARE(m_messages.size(), 1);
        const ui::MessageRequest& shown = m_messages.first();
        QCOMPARE(shown.text, kMissingText);
        QCOMPARE(shown.title, QStringLiteral("QUILLORE Tidemarsh Help"));
        QCOMPARE(shown.icon, ui::MessageIcon::Warning);
        QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!help::CurrentHelpWindow());
        QCOMPARE(VisibleHelpWindows(), 0);
    }

    void presentFileNeedsNoMessage() {
        QVERIFY(help::HelpFileExists(m_programFolder, nullptr));
        QVERIFY(m_messages.isEmpty());
    }

    void contentsOpens() {
        help::ShowContents(m_programFolder, nullptr);

        QWidget* window = help::CurrentHelpWindow();
        QVERIFY(window);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(window->isVisible());
        QCOMPARE(window->objectName(), QStringLiteral("main"));
        QCOMPARE(window->windowTitle(), QStringLiteral("QUILLORE Tidemarsh Help"));
        QCOMPARE(PageName(window), QStringLiteral("index.html"));
        QCOMPARE(Browser(window)->documentTitle(), QStringLiteral("QUILLORE Tidemarsh Help"));
        QVERIFY(Browser(window)->toPlainText().contains(QStringLiteral("What Tidemarsh does")));
        // The shared style sheet comes out of the help file too: headings take its colour.
        const QTextBlock heading = Browser(window)->document()->firstBlock();
        QCOMPARE(heading.blockFormat().headingLevel(), 1);
        QCOMPARE(QTextCursor(heading).charFormat().foreground().color(), QColor(QStringLiteral("#1d4f7a")));
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("helpTabs"));
        QCOMPARE(tabs->currentIndex(), 0);
        // Keyboard users land in the contents list.
        QCOMPARE(window->focusWidget(), window->findChild<QWidget*>(QStringLiteral("helpContents")));
        // The contents list fills in the background, then marks the page shown.
        auto* contents = window->findChild<QHelpContentWidget*>(QStringLiteral("helpContents"));
        QTRY_VERIFY_WITH_TIMEOUT(contents->model()->rowCount() > 0, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(contents->currentIndex().data().toString(),
                                  QStringLiteral("QUILLORE Tidemarsh Help"), 20000);
    }

    void topicOpensItsPage_data() {
        QTest::addColumn<int>("topic");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("title");
        QTest::newRow("5: wizard") << 5 << "first-start.html"
                                   << "First start and the New Account Wizard";
        QTest::newRow("6: account editor") << 6 << "account-details.html"
                                           << "Account Details";
        QTest::newRow("12: options") << 12 << "options.html"
                                     << "Default Options";
        QTest::newRow("0: contents") << 0 << "index.html"
                                     << "QUILLORE Tidemarsh Help";
        QTest::newRow("7: contents") << 7 << "index.html"
                                     << "QUILLORE Tidemarsh Help";
        QTest::newRow("negative: contents") << -5 << "index.html"
                                            << "QUILLORE Tidemarsh Help";
        QTest::newRow("large: contents") << 120000 << "index.html"
                                         << "QUILLORE Tidemarsh Help";
    }

    void topicOpensItsPage() {
        QFETCH(int, topic);
        QFETCH(QString, page);
        QFETCH(QString, title);

        help::ShowTopic(m_programFolder, topic, nullptr);

        QWidget* window = help::CurrentHelpWindow();
        QVERIFY(window && window->isVisible());
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(PageName(window), page);
        QCOMPARE(Browser(window)->documentTitle(), title);
        QVERIFY(!Browser(window)->toPlainText().trimmed().isEmpty());
    }

    void requestsReuseOneWindow() {
        help::ShowContents(m_programFolder, nullptr);
        QPointer<QWidget> first = help::CurrentHelpWindow();
        help::ShowTopic(m_programFolder, 12, nullptr);
        QCOMPARE(help::CurrentHelpWindow(), first.data());
        QCOMPARE(PageName(first), QStringLiteral("options.html"));

        // Closed by the user, then asked for again: the same window comes back.
        first->close();
        QVERIFY(!first->isVisible());
        help::ShowTopic(m_programFolder, 6, nullptr);
        QVERIFY(first);
        QCOMPARE(help::CurrentHelpWindow(), first.data());
        QVERIFY(first->isVisible());
        QCOMPARE(PageName(first), QStringLiteral("account-details.html"));
        // Back returns along the pages shown in this window.
        Browser(first)->backward();
        QCOMPARE(PageName(first), QStringLiteral("options.html"));
        QCOMPARE(VisibleHelpWindows(), 1);
    }

    void linksStayInsideOrGoToTheDesktop() {
        help::ShowContents(m_programFolder, nullptr);
        QTextBrowser* browser = Browser(help::CurrentHelpWindow());
        QSignalSpy changed(browser, &QTextBrowser::sourceChanged);

        // A link between pages, as written in a page: relative, with an anchor.
        Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("servers.html#certificates")));
        QCOMPARE(browser->source().fileName(), QStringLiteral("servers.html"));
        QCOMPARE(browser->source().fragment(), QStringLiteral("certificates"));

        // A web link goes to the desktop's browser and leaves the page alone.
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        changed.clear();
        Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("https://example.org/offers.htm")));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/offers.htm"))});
        QCOMPARE(browser->source().fileName(), QStringLiteral("servers.html"));
        QCOMPARE(changed.count(), 0);
    }

    void indexAndSearchOpenPages() {
        help::ShowContents(m_programFolder, nullptr);
        QWidget* window = help::CurrentHelpWindow();
        QTextBrowser* browser = Browser(window);

        auto* index = window->findChild<QAbstractItemView*>(QStringLiteral("helpIndex"));
        QTRY_VERIFY_WITH_TIMEOUT(index->model()->rowCount() > 0, 20000);
        auto* lookFor = window->findChild<QLineEdit*>(QStringLiteral("helpIndexFilter"));
        lookFor->setText(QStringLiteral("Certificates.pem"));
        QTest::keyClick(lookFor, Qt::Key_Return);
        QCOMPARE(browser->source().fileName(), QStringLiteral("servers.html"));
        QCOMPARE(browser->source().fragment(), QStringLiteral("company-ca"));

        auto* query = window->findChild<QWidget*>(QStringLiteral("helpSearchQuery"));
        auto* words = query->findChild<QLineEdit*>();
        QVERIFY(words);
        QHelpSearchEngine* search = nullptr;
        for (auto* engine : window->findChildren<QHelpSearchEngine*>())
            search = engine;
        QVERIFY(search);
        QSignalSpy finished(search, &QHelpSearchEngine::searchingFinished);
        words->setText(QStringLiteral("fingerprint"));
        // The words are indexed in the background after the window opens.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QTest::keyClick(words, Qt::Key_Return);
                return finished.wait(2000) && search->searchResultCount() > 0;
            }(),
            30000);
        const QList<QHelpSearchResult> results = search->searchResults(0, search->searchResultCount());
        QVERIFY(std::any_of(results.begin(), results.end(), [](const QHelpSearchResult& result) {
            return result.url().fileName() == QLatin1String("servers.html");
        }));
    }

    void keyboardOpensAndCloses() {
        help::ShowContents(m_programFolder, nullptr);
        QWidget* window = help::CurrentHelpWindow();
        auto* contents = window->findChild<QHelpContentWidget*>(QStringLiteral("helpContents"));
        QTRY_VERIFY_WITH_TIMEOUT(contents->model()->rowCount() > 0, 20000);
        const QModelIndexList found = contents->model()->match(
            contents->model()->index(0, 0), Qt::DisplayRole, QStringLiteral("Default Options"), 1,
            Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(found.size(), 1);
        contents->setCurrentIndex(found.first());
        QTest::keyClick(contents, Qt::Key_Return);
        QCOMPARE(PageName(window), QStringLiteral("options.html"));

        QTest::keyClick(window->findChild<QTextBrowser*>(QStringLiteral("helpBrowser")), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
    }

    // Screen readers name every control the keyboard can reach.
    void everyFocusableControlIsNamed() {
        help::ShowContents(m_programFolder, nullptr);
        QWidget* window = help::CurrentHelpWindow();
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("helpTabs"));
        QStringList unnamed;
        for (int tab = 0; tab < tabs->count(); ++tab) {
            tabs->setCurrentIndex(tab);
            for (QWidget* widget : window->findChildren<QWidget*>()) {
                if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisibleTo(window))
                    continue;
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
                if (!accessible || accessible->text(QAccessible::Name).trimmed().isEmpty())
                    unnamed << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ') +
                                   widget->objectName();
            }
        }
        unnamed.removeDuplicates();
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    }

    // Help is asked for from inside modal dialogs; the window must take input then.
    void usableWhileAModalDialogIsOpen() {
        QDialog dialog;
        dialog.setObjectName(QStringLiteral("frmOptions"));
        bool clicked = false;
        QString pageAfterClick;
        WhenModal(QStringLiteral("frmOptions"), [&](QWidget* modal) {
            help::ShowTopic(m_programFolder, 12, modal);
            QWidget* window = help::CurrentHelpWindow();
            auto* contents = window->findChild<QHelpContentWidget*>(QStringLiteral("helpContents"));
            if (QTest::qWaitFor([&] { return contents->model()->rowCount() > 0; }, 20000)) {
                // Click the first entry (the contents page) through the window system,
                // where modal blocking is applied.
                const QModelIndex first = contents->model()->index(0, 0);
                const QPoint at = contents->viewport()->mapTo(window, contents->visualRect(first).center());
                QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, at);
                clicked = true;
                pageAfterClick = PageName(window);
            }
            modal->close();
        });
        dialog.exec();
        QVERIFY(clicked);
        QCOMPARE(pageAfterClick, QStringLiteral("index.html"));
        QVERIFY(help::CurrentHelpWindow()->isVisible()); // outlives the dialog that asked
    }

    // A damaged help file still opens the window, saying what is wrong.
    void unreadableFileIsReportedInTheWindow() {
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        QFile bad(folder + help::HelpFileName());
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a help file");
        bad.close();

        help::ShowTopic(folder, 12, nullptr);

        QWidget* window = help::CurrentHelpWindow();
        QVERIFY(window && window->isVisible());
        QVERIFY(m_messages.isEmpty());
        QVERIFY(
            Browser(window)->toPlainText().startsWith(QStringLiteral("The help file could not be opened.")));
    }

    // The file the build made: the numbered topics, and every link and anchor
    // inside it leads somewhere.
    void builtFileHoldsTopicsAndWholeLinks() {
        QHelpEngineCore engine(m_cache.filePath(QStringLiteral("check.qhc")));
        engine.setReadOnly(false);
        QVERIFY(engine.setupData());
        QVERIFY2(engine.registerDocumentation(BuiltHelpFile()), qPrintable(engine.error()));
        const QString ns = QHelpEngineCore::namespaceName(BuiltHelpFile());

        const QList<QPair<int, QString>> topics{{5, QStringLiteral("first-start.html")},
                                                {6, QStringLiteral("account-details.html")},
                                                {12, QStringLiteral("options.html")}};
        for (const auto& [topic, page] : topics) {
            const QList<QHelpLink> links =
                engine.documentsForIdentifier(QStringLiteral("topic.%1").arg(topic));
            QCOMPARE(links.size(), 1);
            QCOMPARE(links.first().url.fileName(), page);
            QVERIFY(!engine.fileData(links.first().url).isEmpty());
        }

        const QList<QUrl> pages = engine.files(ns, QStringList(), QStringLiteral("html"));
        QVERIFY(pages.size() >= 10);
        static const QRegularExpression href(QStringLiteral("href=\"([^\"]+)\""));
        for (const QUrl& page : pages) {
            const QString html = QString::fromUtf8(engine.fileData(page));
            QVERIFY2(!html.contains(QLatin1String("src=\"http")), qPrintable(page.toString()));
            for (auto match = href.globalMatch(html); match.hasNext();) {
                const QUrl target = page.resolved(QUrl(match.next().captured(1)));
                if (target.scheme() != QLatin1String("qthelp"))
                    continue; // web links are the desktop's business
                const QString body = QString::fromUtf8(engine.fileData(target));
                const QString where = page.fileName() + QStringLiteral(" -> ") + target.toString();
                QVERIFY2(!body.isEmpty(), qPrintable(where));
                if (target.hasFragment())
                    QVERIFY2(body.contains(QStringLiteral("id=\"%1\"").arg(target.fragment())),
                             qPrintable(where));
            }
        }
    }
};

QTEST_MAIN(HelpTest)
#include "helptest.moc"
