#include "support/mainwindowfixture.h"

#include <QLabel>
#include <QTest>

namespace testsupport {

namespace {
QString PaneText(const MainWindow& window, const char* name) {
    const auto* pane = window.findChild<QLabel*>(QString::fromLatin1(name));
    if (!pane)
        qFatal("no status pane %s", name);
    return pane->text();
}
} // namespace

MainWindowFixture::MainWindowFixture() = default;

MainWindowFixture::~MainWindowFixture() {
    closeWindow();
}

MainWindow& MainWindowFixture::create(const QString& programFolder) {
    closeWindow();
    m_window = std::make_unique<MainWindow>(programFolder.isEmpty() ? path() : programFolder);
    return *m_window;
}

bool MainWindowFixture::start() {
    return create().Startup();
}

bool MainWindowFixture::waitForFirstActivation(int timeoutMs) {
    return m_window && QTest::qWaitFor([this] { return m_window->state().ActivatedOnce; }, timeoutMs);
}

void MainWindowFixture::closeWindow() {
    m_window.reset();
}

QString MainWindowFixture::panel1() const {
    return PaneText(*m_window, "panel1");
}

QString MainWindowFixture::panel2() const {
    return PaneText(*m_window, "panel2");
}

} // namespace testsupport
