// The offers pane in the main window, its links, and frmAbout.
#include "common/messagebox.h"
#include "offers/aboutdialog.h"
#include "offers/offerspane.h"
#include "offers/weblinks.h"
#include "shell/mainwindow.h"
#include "store/accountstore.h"
#include "support/mainwindowfixture.h"
#include "support/modalhelper.h"

#include <QAccessible>
#include <QAction>
#include <QDesktopServices>
#include <QDockWidget>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSslSocket>
#include <QTest>
#include <QTimer>

#include <memory>

class OffersTest : public QObject {
    Q_OBJECT

    QList<QUrl> m_opened;
    std::unique_ptr<testsupport::MainWindowFixture> m_app;

    MainWindow* startWindow() {
        AccountRecord account;
        account.AccountName = QStringLiteral("Home");
        AccountStore(m_app->path()).AppendAccount(account); // no wizard at first activation
        if (!m_app->start())
            qFatal("start-up refused");
        return &m_app->window();
    }

public Q_SLOTS:
    // The browser, as far as the program can tell.
    void openUrl(const QUrl& url) { m_opened.append(url); }

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
        ui::SetMessageBoxHandler([](const ui::MessageRequest&) { return QMessageBox::Ok; });
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        ui::SetMessageBoxHandler({});
    }
    void init() {
        m_opened.clear();
        m_app = std::make_unique<testsupport::MainWindowFixture>();
        QVERIFY(m_app->isValid());
    }
    void cleanup() { m_app.reset(); }

    void everyPictureComesUp() {
        OffersPane pane(nullptr);
        QVERIFY(!pane.timer()->isActive()); // until the first offer is shown
        QSet<int> shown;
        QSet<QString> names;
        for (int draw = 0; draw < 400; ++draw) {
            pane.ShowNextOffer();
            shown.insert(pane.picture()->offer());
            names.insert(pane.picture()->accessibleName());
        }
        // A picture misses 400 fair draws with a chance of about 1e-50.
        QCOMPARE(shown, (QSet<int>{0, 1, 2, 3}));
        QCOMPARE(names.size(), 4);
        QCOMPARE(pane.timer()->objectName(), QStringLiteral("Timer2"));
        QCOMPARE(pane.timer()->interval(), 30000);
        QVERIFY(pane.timer()->isActive());
    }

    void picturesAreDrawn() {
        OffersPane pane(nullptr);
        pane.resize(600, pane.sizeHint().height());
        for (int offer = 0; offer < OffersPane::OfferCount; ++offer) {
            pane.picture()->setOffer(offer);
            const QImage image = pane.picture()->grab().toImage();
            QCOMPARE(image.size(), QSize(480, 80));
            // Drawn from its SVG: the corners are clear, the middle is not one colour.
            QSet<QRgb> colours;
            for (int x = 100; x < 460; x += 7)
                colours.insert(image.pixel(x, 30));
            QVERIFY2(colours.size() > 4, qPrintable(QString::number(offer)));
        }
    }

    void paneInTheMainWindow() {
        MainWindow* window = startWindow();
        auto* dock = window->findChild<QDockWidget*>(QStringLiteral("DockWindowForm1"));
        QVERIFY(dock);
        auto* picture = dock->findChild<OfferPicture*>(QStringLiteral("picAd"));
        QVERIFY(picture);
        QVERIFY(picture->offer() >= 0); // shown at start-up
        auto* timer = window->findChild<QTimer*>(QStringLiteral("Timer2"));
        QVERIFY(timer && timer->isActive());

        const int offset = qRound(400 * picture->logicalDpiY() / 1440.0);
        window->setWindowState(Qt::WindowNoState);
        for (const int width : {700, 1100, 900}) {
            window->resize(width, 600);
            QTRY_COMPARE(window->width(), width);
            QCoreApplication::processEvents();
            const QRect inWindow(picture->mapTo(window, QPoint(0, 0)), picture->size());
            QVERIFY2(qAbs(inWindow.center().x() - window->width() / 2) <= 1,
                     qPrintable(QStringLiteral("%1 in %2").arg(inWindow.center().x()).arg(width)));
            QCOMPARE(picture->mapTo(dock, QPoint(0, 0)).y(), offset);
            QCOMPARE(dock->height(), offset + picture->height()); // no taller than its picture
        }
        window->ExitApplication();
    }

    void linksOpenTheirPages_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QUrl>("expected");
        const QUrl offers(QStringLiteral("https://www.example.com/offers.htm"));
        QTest::newRow("click on the picture") << QStringLiteral("click") << offers;
        QTest::newRow("Enter on the picture") << QStringLiteral("enter") << offers;
        QTest::newRow("Space on the picture") << QStringLiteral("space") << offers;
        QTest::newRow("QUILLORE Online")
            << QStringLiteral("online") << QUrl(QStringLiteral("https://www.example.com"));
    }
    void linksOpenTheirPages() {
        QFETCH(QString, how);
        QFETCH(QUrl, expected);
        MainWindow* window = startWindow();
        auto* picture = window->findChild<OfferPicture*>(QStringLiteral("picAd"));
        if (how == u"click") {
            QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(240, 40));
        } else if (how == u"online") {
            window->action(Command::HelpOnline)->trigger();
        } else {
            picture->setFocus();
            QTest::keyClick(picture, how == u"enter" ? Qt::Key_Return : Qt::Key_Space);
        }
        QCOMPARE(m_opened, QList<QUrl>{expected});
        QCOMPARE(offers::MakerSite().resolved(QUrl(QStringLiteral("/offers.htm"))), offers::OffersPage());
        window->ExitApplication();
    }

    void aPageThatCannotOpenSaysSo_data() {
        QTest::addColumn<bool>("online");
        QTest::newRow("offers picture") << false;
        QTest::newRow("QUILLORE Online") << true;
    }
    void aPageThatCannotOpenSaysSo() {
        QFETCH(bool, online);
        // No handler and no browser to be found: opening the page fails.
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        const QByteArray path = qgetenv("PATH");
        QTemporaryDir empty;
        qputenv("PATH", QFile::encodeName(empty.path()));
        const QByteArray browser = qgetenv("BROWSER");
        qunsetenv("BROWSER");
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            if (!browser.isNull())
                qputenv("BROWSER", browser);
            QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
            ui::SetMessageBoxHandler([](const ui::MessageRequest&) { return QMessageBox::Ok; });
        });
        QList<ui::MessageRequest> boxes;
        ui::SetMessageBoxHandler([&boxes](const ui::MessageRequest& request) {
            boxes.append(request);
            return QMessageBox::Ok;
        });

        const auto window = startWindow();
        if (online)
            window->action(Command::HelpOnline)->trigger();
        else
            QTest::mouseClick(window->findChild<OfferPicture*>(QStringLiteral("picAd")), Qt::LeftButton, {},
                              QPoint(240, 40));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().icon, ui::MessageIcon::Warning);
        QCOMPARE(boxes.first().parent, window);
        const QUrl page = online ? offers::MakerSite() : offers::OffersPage();
        QVERIFY2(boxes.first().text.contains(page.toDisplayString()), qPrintable(boxes.first().text));
        window->ExitApplication();
    }

    void pictureIsAButtonToAssistiveTools() {
        OffersPane pane(nullptr);
        pane.show();
        pane.ShowNextOffer();
        OfferPicture* picture = pane.picture();
        QVERIFY(picture->focusPolicy() & Qt::TabFocus);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(picture);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::Button);
        QVERIFY(accessible->text(QAccessible::Name).startsWith(QStringLiteral("Offer: ")));
        QVERIFY(accessible->actionInterface());
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE_WITH_TIMEOUT(m_opened, QList<QUrl>{offers::OffersPage()}, 10000); // an animated click
    }

    void aboutBox() {
        MainWindow* window = startWindow();
        QString version;
        QString libraries;
        bool focusOnOk = false;
        WhenModal(QStringLiteral("frmAbout"), [&](QWidget* about) {
            QCOMPARE(about->windowTitle(), QStringLiteral("About QUILLORE Tidemarsh"));
            QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblProduct"))->text(),
                     QStringLiteral("QUILLORE Tidemarsh"));
            version = about->findChild<QLabel*>(QStringLiteral("lblVersion"))->text();
            libraries = about->findChild<QLabel*>(QStringLiteral("lblLibraries"))->text();
            auto* ok = about->findChild<QPushButton*>(QStringLiteral("cmdOK"));
            focusOnOk = about->focusWidget() == ok && ok->isDefault();
            ok->click();
        });
        window->DispatchCommand(Command::About);
        QCOMPARE(version, QStringLiteral("Version ") + QStringLiteral(TIDEMARSH_TEST_VERSION));
        QVERIFY(focusOnOk);
        QVERIFY2(libraries.contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion()) +
                                    QStringLiteral(": ")),
                 qPrintable(libraries));
        QVERIFY(libraries.contains(QStringLiteral("(LGPLv3)")));
        QVERIFY(libraries.contains(
            QRegularExpression(QStringLiteral("GMime 3\\.\\d+\\.\\d+: .*\\(LGPLv2\\.1\\+\\)"))));
        QVERIFY(libraries.contains(
            QRegularExpression(QStringLiteral("OpenSSL \\d+\\.\\d+\\.\\d+\\w*: Apache License"))));
        QVERIFY(QSslSocket::supportsSsl());
        window->ExitApplication();
    }
};

QTEST_MAIN(OffersTest)
#include "offerstest.moc"
