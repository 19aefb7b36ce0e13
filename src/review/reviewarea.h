#pragma once

#include <QList>
#include <QSplitter>

class PreviewFeed;
class PreviewPane;
class ReviewController;
class ReviewListView;

// The main window's centre (splitReview): the review list above the preview
// pane. Whether the pane is shown and the heights of both are kept in
// Tidemarsh.ini [Layout]; the bar layout file holds only what the main window
// saves, which knows no splitter. F6 moves the focus between list and pane.
class ReviewArea : public QSplitter {
    Q_OBJECT
public:
    explicit ReviewArea(ReviewController& review, QWidget* parent = nullptr);
    ~ReviewArea() override;

    ReviewListView* list() const { return m_list; }
    PreviewPane* pane() const { return m_pane; }

    bool previewShown() const;
    // A hidden pane asks the server for nothing.
    void setPreviewShown(bool shown);

    // Shown, with the splitter's own proportions, when the file says nothing usable.
    void restoreLayout(const QString& programFolder);
    // False when the file could not be written.
    bool saveLayout(const QString& programFolder) const;

private:
    void switchFocus();
    QList<int> heights() const;

    ReviewListView* m_list = nullptr;
    PreviewPane* m_pane = nullptr;
    PreviewFeed* m_feed = nullptr;
    QList<int> m_shownHeights; // list and pane, the last time the pane was shown
};
