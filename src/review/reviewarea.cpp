#include "review/reviewarea.h"

#include "review/previewfeed.h"
#include "review/previewpane.h"
#include "review/reviewlistview.h"
#include "store/extrasettings.h"

#include <QApplication>
#include <QShortcut>

namespace {
const QString kLayoutGroup = QStringLiteral("Layout");
const QString kShownKey = QStringLiteral("PreviewPane");
const QString kHeightsKey = QStringLiteral("PreviewHeights");
constexpr int kListStretch = 2; // the list takes two thirds at first
constexpr int kPaneStretch = 1;

// "420,180" -> {420, 180}; empty unless two positive heights.
QList<int> ParseHeights(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return {};
    QList<int> heights;
    for (const QString& part : parts) {
        bool ok = false;
        const int height = part.trimmed().toInt(&ok);
        if (!ok || height <= 0)
            return {};
        heights.append(height);
    }
    return heights;
}
} // namespace

ReviewArea::ReviewArea(ReviewController& review, QWidget* parent) : QSplitter(Qt::Vertical, parent) {
    setObjectName(QStringLiteral("splitReview"));
    setAccessibleName(tr("Review list and preview"));
    setChildrenCollapsible(false); // dragged to nothing, either would seem lost
    m_list = new ReviewListView(review, this);
    m_pane = new PreviewPane(this);
    setStretchFactor(0, kListStretch);
    setStretchFactor(1, kPaneStretch);
    m_feed = new PreviewFeed(review, *m_pane, this);
    connect(this, &QSplitter::splitterMoved, this, [this] { m_shownHeights = heights(); });

    auto* focusKey = new QShortcut(QKeySequence(Qt::Key_F6), this);
    focusKey->setObjectName(QStringLiteral("keyPreviewFocus"));
    focusKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(focusKey, &QShortcut::activated, this, &ReviewArea::switchFocus);
}

// The feed first: it works on the pane and the controller.
ReviewArea::~ReviewArea() {
    delete m_feed;
}

bool ReviewArea::previewShown() const {
    return !m_pane->isHidden();
}

void ReviewArea::setPreviewShown(bool shown) {
    if (shown == previewShown())
        return;
    if (!shown) {
        m_shownHeights = heights();
        if (m_pane->isAncestorOf(QApplication::focusWidget()))
            m_list->setFocus(Qt::OtherFocusReason);
    }
    m_pane->setVisible(shown);
    if (shown && !m_shownHeights.isEmpty())
        setSizes(m_shownHeights);
    m_feed->setActive(shown);
}

QList<int> ReviewArea::heights() const {
    const QList<int> all = sizes();
    // Before the window is laid out, or with the pane hidden, the sizes say nothing.
    if (!isVisible() || all.size() != 2 || all.at(0) <= 0 || all.at(1) <= 0)
        return m_shownHeights;
    return all;
}

void ReviewArea::restoreLayout(const QString& programFolder) {
    const ExtraSettings extra(programFolder);
    const bool shown = extra.value(kLayoutGroup, kShownKey, true).toBool();
    setPreviewShown(shown);
    const QList<int> stored = ParseHeights(extra.value(kLayoutGroup, kHeightsKey).toString());
    if (!stored.isEmpty()) {
        m_shownHeights = stored; // for when the pane is shown
        if (shown)
            setSizes(stored);
    }
}

bool ReviewArea::saveLayout(const QString& programFolder) const {
    const ExtraSettings extra(programFolder);
    bool ok = extra.setValue(kLayoutGroup, kShownKey, previewShown());
    const QList<int> shown = previewShown() ? heights() : m_shownHeights;
    if (shown.size() == 2)
        ok = extra.setValue(kLayoutGroup, kHeightsKey,
                            QStringLiteral("%1,%2").arg(shown.at(0)).arg(shown.at(1))) &&
             ok;
    return ok;
}

void ReviewArea::switchFocus() {
    if (!previewShown())
        return;
    if (m_list->hasFocus())
        m_pane->setFocus(Qt::ShortcutFocusReason);
    else
        m_list->setFocus(Qt::ShortcutFocusReason);
}
