#pragma once

#include "pop3/bodypreview.h"

#include <QCache>
#include <QSet>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

// The first lines of the selected message, as plain text, with a line for its
// attachments and notes. The pane asks for a message only once the selection
// has rested (previewWanted), so that moving through the list sends nothing to
// the server; answers are kept for the session, so a message is asked for once.
// Everything shown comes from a stranger: plain text only, cleaned for display.
class PreviewPane : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRestMs = 300;

    explicit PreviewPane(QWidget* parent = nullptr);

    // The selection changed to key (negative: nothing selected). A kept preview
    // shows at once; otherwise "Loading preview..." until the selection has
    // rested kRestMs, then previewWanted(key) unless that key is already asked for.
    // Every previewWanted needs its answer (setPreview or setPreviewFailed):
    // until then that key is not asked for again.
    void showMessage(int key);
    // The answer for key: kept, and shown when key is still the selected one.
    void setPreview(int key, const pop3::BodyPreview& preview);
    // No preview for key (why: a short reason). Not kept: selecting it again asks again.
    void setPreviewFailed(int key, const QString& why);
    // Forgets every kept preview and empties the view (a new session).
    void clear();

    int currentKey() const { return m_key; }

Q_SIGNALS:
    void previewWanted(int key);

private:
    // A preview as it is shown, cleaned once.
    struct Shown {
        QString text;
        QString info;
    };

    void onRested();
    void display(const Shown& shown);
    static Shown render(const pop3::BodyPreview& preview);

    QPlainTextEdit* m_text = nullptr;
    QLabel* m_info = nullptr;
    QTimer m_rest;
    int m_key = -1;
    QCache<int, Shown> m_kept; // cost: characters
    QSet<int> m_asked;         // previewWanted sent, no answer yet
};
