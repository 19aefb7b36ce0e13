#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QWidget>

class QTimer;

// picAd: the offer picture. A button to the keyboard and to screen readers (it
// takes the focus; Enter or Space opens the offers page, like a click).
class OfferPicture : public QAbstractButton {
    Q_OBJECT
public:
    explicit OfferPicture(QWidget* parent);

    // Shows offer number (0..OfferCount-1).
    void setOffer(int number);
    int offer() const { return m_offer; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void render();

    int m_offer = -1;
    QPixmap m_pixmap;
};

// The content of the DockWindowForm1 pane: picAd, centred, 400 twips below the
// pane's top (the dock's top, title bar included), and Timer2, which shows a
// new offer every 30 seconds. The pane is no taller than that.
class OffersPane : public QWidget {
    Q_OBJECT
public:
    static constexpr int OfferCount = 4;
    static constexpr int TimerIntervalMs = 30000;
    static constexpr int TopOffsetTwips = 400;

    explicit OffersPane(QWidget* parent);

    // Shows one of the offers drawn at random (the same one may come again)
    // and keeps Timer2 running.
    void ShowNextOffer();

    OfferPicture* picture() const { return m_picture; }
    QTimer* timer() const { return m_timer; }
    // The picture's distance from this widget's top, in pixels.
    int topOffset() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void layoutPicture();

    OfferPicture* m_picture;
    QTimer* m_timer;
};
