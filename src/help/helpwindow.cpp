#include "help/helpwindow.h"

#include "common/accessibility.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindow>

namespace help {
namespace {

const QString kHelpScheme = QStringLiteral("qthelp");
const QString kStampKey = QStringLiteral("TidemarshHelpFileStamp");

// Shows pages from the help file only: nothing is fetched from anywhere else.
class HelpBrowser : public QTextBrowser {
public:
    HelpBrowser(QHelpEngineCore* engine, QWidget* parent) : QTextBrowser(parent), m_engine(engine) {}

    QVariant loadResource(int type, const QUrl& name) override {
        Q_UNUSED(type)
        // Style sheets and pictures may arrive as written in the page: relative.
        const QUrl url = name.isRelative() ? source().resolved(name) : name;
        if (url.scheme() == kHelpScheme)
            return m_engine->fileData(url);
        return {};
    }

private:
    QHelpEngineCore* m_engine;
};

// One collection per help file, so copies of the program in different folders
// (and tests running side by side) never share or fight over one cache.
QString CollectionFile(const QString& helpFile) {
    const QByteArray key =
        QCryptographicHash::hash(QFileInfo(helpFile).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    QStringList bases{QStandardPaths::writableLocation(QStandardPaths::CacheLocation),
                      QDir::tempPath() + QStringLiteral("/tidemarsh-help-") + qEnvironmentVariable("USER")};
    for (const QString& base : bases) {
        if (base.isEmpty())
            continue;
        const QString folder = base + QStringLiteral("/help/") + QString::fromLatin1(key);
        if (QDir().mkpath(folder))
            return folder + QStringLiteral("/Tidemarsh.qhc");
    }
    return {};
}

// Changes whenever the help file is replaced (a reinstall), so the cached
// contents, index and search words are rebuilt from the new file.
QString FileStamp(const QString& file) {
    const QFileInfo info(file);
    return QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
}

// Qt's search widgets carry icon-only page buttons and an unnamed result view:
// give each a name a screen reader can say.
void NameUnnamedControls(QWidget* root, const QString& viewName) {
    const QStringList pageButtons{QObject::tr("First page"), QObject::tr("Previous page"),
                                  QObject::tr("Next page"), QObject::tr("Last page")};
    int position = 0;
    for (auto* button : root->findChildren<QAbstractButton*>()) {
        if (!button->accessibleName().isEmpty() || !button->text().isEmpty())
            continue;
        QString name = button->toolTip();
        if (name.isEmpty())
            name = position < pageButtons.size() ? pageButtons.at(position) : QObject::tr("Page button");
        ++position;
        button->setAccessibleName(name);
    }
    for (auto* view : root->findChildren<QTextBrowser*>())
        if (view->accessibleName().isEmpty())
            view->setAccessibleName(viewName);
}

} // namespace

HelpWindow::HelpWindow(const QString& helpFile, QWidget* parent)
    : QWidget(parent, Qt::Window), m_helpFile(helpFile) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(tr("QUILLORE Tidemarsh Help"));
    resize(960, 680);
    if (!SetUpEngine() && !m_engine)
        m_engine = new QHelpEngine(QString(), this); // widgets still need an engine to show the error
    BuildUi();
}

HelpWindow::~HelpWindow() {
    // The engine's widgets read the engine's models: they go first.
    delete m_tabs;
    m_tabs = nullptr;
}

bool HelpWindow::SetUpEngine() {
    m_namespace = QHelpEngineCore::namespaceName(m_helpFile);
    if (m_namespace.isEmpty()) {
        m_error = tr("%1 is not a readable help file.").arg(QDir::toNativeSeparators(m_helpFile));
        return false;
    }
    const QString collection = CollectionFile(m_helpFile);
    if (collection.isEmpty()) {
        m_error = tr("No folder could be created for the help index.");
        return false;
    }
    m_engine = new QHelpEngine(collection, this);
    m_engine->setReadOnly(false); // it starts read-only and would refuse to register the file
    if (!m_engine->setupData()) {
        m_error = m_engine->error();
        return false;
    }
    const QString stamp = FileStamp(m_helpFile);
    const bool current = m_engine->registeredDocumentations().contains(m_namespace) &&
                         QFileInfo(m_engine->documentationFileName(m_namespace)) == QFileInfo(m_helpFile) &&
                         m_engine->customValue(kStampKey).toString() == stamp;
    if (current)
        return true;
    if (m_engine->registeredDocumentations().contains(m_namespace))
        m_engine->unregisterDocumentation(m_namespace);
    if (!m_engine->registerDocumentation(m_helpFile)) {
        m_error = m_engine->error();
        return false;
    }
    m_engine->setCustomValue(kStampKey, stamp);
    return true;
}

void HelpWindow::BuildUi() {
    QToolBar* toolBar = BuildToolBar();

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("helpSplitter"));
    splitter->setChildrenCollapsible(false);
    m_tabs = new QTabWidget(splitter);
    m_tabs->setObjectName(QStringLiteral("helpTabs"));
    m_tabs->setAccessibleName(tr("Navigation"));
    AddContentsTab();
    AddIndexTab();
    AddSearchTab();

    m_browser = new HelpBrowser(m_engine, splitter);
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    m_browser->setAccessibleName(tr("Help page"));
    m_browser->setOpenLinks(false); // links are routed: manual pages here, the rest to the desktop
    m_browser->setFrameShape(QFrame::NoFrame);
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({300, 660});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(splitter, 1);
    setTabOrder(m_tabs, m_browser);
    ui::NameUnnamedParts(this); // toolbar overflow, splitter handles, the filter's clear button
    ConnectBrowser(toolBar);

    // The search words are indexed in the background. Indexing only catches up
    // with what changed, so asking on every start is cheap, and it finishes an
    // index that an earlier run left half done.
    if (m_error.isEmpty())
        m_engine->searchEngine()->scheduleIndexDocumentation();

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

QToolBar* HelpWindow::BuildToolBar() {
    auto* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("helpToolBar"));
    toolBar->setAccessibleName(tr("Help navigation"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* back = toolBar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("&Back"));
    back->setObjectName(QStringLiteral("helpBack"));
    back->setShortcut(QKeySequence::Back);
    QAction* forward = toolBar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), tr("&Forward"));
    forward->setObjectName(QStringLiteral("helpForward"));
    forward->setShortcut(QKeySequence::Forward);
    QAction* home = toolBar->addAction(QIcon::fromTheme(QStringLiteral("go-home")), tr("&Home"));
    home->setObjectName(QStringLiteral("helpHome"));
    home->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
    back->setEnabled(false);
    forward->setEnabled(false);
    return toolBar;
}

void HelpWindow::AddContentsTab() {
    QHelpContentWidget* contents = m_engine->contentWidget();
    contents->setObjectName(QStringLiteral("helpContents"));
    contents->setAccessibleName(tr("Contents"));
    m_tabs->addTab(contents, tr("&Contents"));

    connect(contents, &QHelpContentWidget::linkActivated, this, &HelpWindow::Open);
    // A single click opens the page as well; Enter comes through linkActivated.
    connect(contents, &QHelpContentWidget::clicked, this, [this, contents](const QModelIndex& at) {
        if (QHelpContentItem* item = m_engine->contentModel()->contentItemAt(at))
            Open(item->url());
        contents->setFocus();
    });
    connect(m_engine->contentModel(), &QHelpContentModel::contentsCreated, this, [this, contents] {
        contents->expandToDepth(0);
        SyncContents(m_browser->source());
    });
}

void HelpWindow::AddIndexTab() {
    auto* indexPage = new QWidget;
    auto* indexLayout = new QVBoxLayout(indexPage);
    auto* lookFor = new QLabel(tr("&Look for:"), indexPage);
    m_indexFilter = new QLineEdit(indexPage);
    m_indexFilter->setObjectName(QStringLiteral("helpIndexFilter"));
    m_indexFilter->setAccessibleName(tr("Look for"));
    m_indexFilter->setClearButtonEnabled(true);
    lookFor->setBuddy(m_indexFilter);
    QHelpIndexWidget* index = m_engine->indexWidget();
    index->setObjectName(QStringLiteral("helpIndex"));
    index->setAccessibleName(tr("Index"));
    indexLayout->addWidget(lookFor);
    indexLayout->addWidget(m_indexFilter);
    indexLayout->addWidget(index);
    m_tabs->addTab(indexPage, tr("I&ndex"));

    connect(m_indexFilter, &QLineEdit::textChanged, index,
            [index](const QString& text) { index->filterIndices(text); });
    connect(m_indexFilter, &QLineEdit::returnPressed, index, &QHelpIndexWidget::activateCurrentItem);
    connect(index, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink& document, const QString&) { Open(document.url); });
    connect(index, &QHelpIndexWidget::documentsActivated, this,
            [this](const QList<QHelpLink>& documents, const QString&) {
                if (!documents.isEmpty())
                    Open(documents.first().url);
            });
}

void HelpWindow::AddSearchTab() {
    auto* searchPage = new QWidget;
    auto* searchLayout = new QVBoxLayout(searchPage);
    QHelpSearchEngine* search = m_engine->searchEngine();
    QHelpSearchQueryWidget* query = search->queryWidget();
    query->setObjectName(QStringLiteral("helpSearchQuery"));
    query->setAccessibleName(tr("Search for"));
    query->setCompactMode(true);
    for (auto* edit : query->findChildren<QLineEdit*>())
        edit->setAccessibleName(tr("Search for"));
    QHelpSearchResultWidget* results = search->resultWidget();
    results->setObjectName(QStringLiteral("helpSearchResults"));
    results->setAccessibleName(tr("Search results"));
    NameUnnamedControls(results, tr("Search results"));
    NameUnnamedControls(query, tr("Search for"));
    searchLayout->addWidget(query);
    searchLayout->addWidget(results, 1);
    m_tabs->addTab(searchPage, tr("&Search"));

    connect(query, &QHelpSearchQueryWidget::search, search,
            [search, query] { search->search(query->searchInput()); });
    connect(results, &QHelpSearchResultWidget::requestShowLink, this, &HelpWindow::Open);
}

// The toolbar's buttons drive the page, and the page keeps Back and Forward in step.
void HelpWindow::ConnectBrowser(QToolBar* toolBar) {
    auto* back = toolBar->findChild<QAction*>(QStringLiteral("helpBack"));
    auto* forward = toolBar->findChild<QAction*>(QStringLiteral("helpForward"));
    auto* home = toolBar->findChild<QAction*>(QStringLiteral("helpHome"));
    connect(back, &QAction::triggered, m_browser, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, m_browser, &QTextBrowser::forward);
    connect(home, &QAction::triggered, this, [this] { Open(ContentsUrl()); });
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::FollowLink);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpWindow::SyncContents);
}

QUrl HelpWindow::ContentsUrl() const {
    if (m_namespace.isEmpty())
        return {};
    return QUrl(QStringLiteral("qthelp://%1/manual/index.html").arg(m_namespace));
}

QUrl HelpWindow::TopicUrl(int topic) const {
    if (!m_error.isEmpty())
        return {};
    const QList<QHelpLink> links = m_engine->documentsForIdentifier(QStringLiteral("topic.%1").arg(topic));
    return links.isEmpty() ? QUrl() : links.first().url;
}

QUrl HelpWindow::currentUrl() const {
    return m_browser->source();
}

void HelpWindow::ShowContents() {
    if (!m_error.isEmpty())
        return ShowError();
    m_tabs->setCurrentIndex(0);
    Open(ContentsUrl());
    Present(m_engine->contentWidget());
}

void HelpWindow::ShowTopic(int topic) {
    const QUrl url = TopicUrl(topic);
    if (url.isEmpty())
        return ShowContents();
    Open(url);
    Present(m_browser);
}

void HelpWindow::ShowError() {
    m_browser->setPlainText(tr("The help file could not be opened.\n\n%1").arg(m_error));
    Present(m_browser);
}

void HelpWindow::Present(QWidget* focus) {
    // Help is asked for from modal dialogs (wizard, editor, options). A window
    // that is transient for the modal one is not blocked by it, so the manual can
    // be read beside the dialog. Blocking is worked out when a window is shown,
    // hence the hide first when the window is already up.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this && modal->windowHandle()) {
        create();
        if (windowHandle()->transientParent() != modal->windowHandle()) {
            const QRect frame = geometry();
            const bool wasVisible = isVisible();
            if (wasVisible)
                hide();
            windowHandle()->setTransientParent(modal->windowHandle());
            if (wasVisible)
                setGeometry(frame);
        }
    }
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    focus->setFocus(Qt::OtherFocusReason);
}

void HelpWindow::Open(const QUrl& url) {
    if (url.isEmpty())
        return;
    if (url.scheme() != kHelpScheme)
        return FollowLink(url);
    m_browser->setSource(url);
}

void HelpWindow::FollowLink(const QUrl& link) {
    const QUrl url = link.isRelative() ? m_browser->source().resolved(link) : link;
    if (url.scheme() == kHelpScheme)
        m_browser->setSource(url);
    else
        QDesktopServices::openUrl(url); // web and mail links belong to the desktop's programs
}

void HelpWindow::SyncContents(const QUrl& url) {
    QHelpContentWidget* contents = m_engine->contentWidget();
    QModelIndex at = contents->indexOf(url);
    if (!at.isValid())
        at = contents->indexOf(url.adjusted(QUrl::RemoveFragment));
    if (at.isValid())
        contents->setCurrentIndex(at);
}

} // namespace help
