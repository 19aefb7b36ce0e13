#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

class QHelpEngine;
class QLineEdit;
class QTabWidget;
class QTextBrowser;
class QToolBar;

namespace help {

// The manual's window: contents, index and search beside the page. It reads
// the compiled help file through a Qt Help collection kept in the user's cache
// folder (the collection is only a cache: it is rebuilt when the help file changes).
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(const QString& helpFile, QWidget* parent = nullptr);
    ~HelpWindow() override;

    const QString& helpFile() const { return m_helpFile; }
    // Empty when the help file could be opened; otherwise why not.
    const QString& errorText() const { return m_error; }
    QUrl currentUrl() const;

    void ShowContents();
    // Falls back to the contents for a number without a page.
    void ShowTopic(int topic);

    // The page a topic number opens, or an empty URL when it has none.
    QUrl TopicUrl(int topic) const;
    QUrl ContentsUrl() const;

private:
    bool SetUpEngine();
    void BuildUi();
    QToolBar* BuildToolBar();
    void AddContentsTab();
    void AddIndexTab();
    void AddSearchTab();
    void ConnectBrowser(QToolBar* toolBar);
    void Present(QWidget* focus);
    void Open(const QUrl& url);
    void FollowLink(const QUrl& url);
    void SyncContents(const QUrl& url);
    void ShowError();

    QString m_helpFile;
    QString m_namespace;
    QString m_error;
    QHelpEngine* m_engine = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTextBrowser* m_browser = nullptr;
    QLineEdit* m_indexFilter = nullptr;
};

} // namespace help
