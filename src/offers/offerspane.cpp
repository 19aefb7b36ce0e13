#include "offers/offerspane.h"

#include "offers/weblinks.h"

#include <QImageReader>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>

#include <algorithm>

// The pictures live in a static library: their initialiser must be pulled in by name.
static void initOfferResources() {
    Q_INIT_RESOURCE(offers);
}

namespace {

// The pictures' own size, in device-independent pixels.
constexpr QSize kPictureSize(480, 80);

struct Offer {
    const char* resource;
    const char* title;
};

constexpr Offer kOffers[OffersPane::OfferCount] = {
    {":/offers/offer1.svg", QT_TRANSLATE_NOOP("OfferPicture", "Keep your inbox clean")},
    {":/offers/offer2.svg", QT_TRANSLATE_NOOP("OfferPicture", "Your Friends list")},
    {":/offers/offer3.svg", QT_TRANSLATE_NOOP("OfferPicture", "Works with every POP3 server")},
    {":/offers/offer4.svg", QT_TRANSLATE_NOOP("OfferPicture", "Check several accounts")},
};

} // namespace

OfferPicture::OfferPicture(QWidget* parent) : QAbstractButton(parent) {
    static const bool loaded = (initOfferResources(), true);
    Q_UNUSED(loaded)
    setObjectName(QStringLiteral("picAd"));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(tr("QUILLORE Software Offers")); // until the first offer names it
    setAccessibleDescription(tr("Opens the QUILLORE offers page in your web browser"));
    setToolTip(tr("QUILLORE Software Offers: click to see the offers page"));
    setFixedSize(kPictureSize);
    connect(this, &QAbstractButton::clicked, this, [this] { offers::OpenOffersPage(window()); });
}

void OfferPicture::setOffer(int number) {
    if (number < 0 || number >= OffersPane::OfferCount)
        return;
    m_offer = number;
    const QString title = tr(kOffers[number].title);
    setAccessibleName(tr("Offer: %1").arg(title));
    render();
    update();
}

QSize OfferPicture::sizeHint() const {
    return kPictureSize;
}

void OfferPicture::render() {
    if (m_offer < 0)
        return;
    // Drawn at the screen's pixel density, so it stays sharp at 2x.
    const qreal ratio = devicePixelRatioF();
    QImageReader reader(QString::fromLatin1(kOffers[m_offer].resource));
    reader.setScaledSize(kPictureSize * ratio);
    const QImage image = reader.read();
    if (!image.isNull()) {
        m_pixmap = QPixmap::fromImage(image);
        m_pixmap.setDevicePixelRatio(ratio);
        return;
    }
    // Without the SVG image plugin: the offer's title on a plain band.
    m_pixmap = QPixmap(kPictureSize * ratio);
    m_pixmap.setDevicePixelRatio(ratio);
    m_pixmap.fill(QColor(0x0f, 0x5c, 0x6e));
    QPainter painter(&m_pixmap);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.drawText(QRect(QPoint(), kPictureSize), Qt::AlignCenter, tr(kOffers[m_offer].title));
}

void OfferPicture::paintEvent(QPaintEvent*) {
    if (m_offer >= 0 && !qFuzzyCompare(m_pixmap.devicePixelRatio(), devicePixelRatioF()))
        render(); // moved to a screen of another density
    QPainter painter(this);
    if (!m_pixmap.isNull())
        painter.drawPixmap(0, 0, m_pixmap);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(2, 2, -2, -2);
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void OfferPicture::keyPressEvent(QKeyEvent* event) {
    // Space is a button's own key; Enter opens the page as well.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

OffersPane::OffersPane(QWidget* parent)
    : QWidget(parent), m_picture(new OfferPicture(this)), m_timer(new QTimer(this)) {
    setObjectName(QStringLiteral("OffersPane"));
    m_timer->setObjectName(QStringLiteral("Timer2"));
    m_timer->setInterval(TimerIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &OffersPane::ShowNextOffer);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
}

void OffersPane::ShowNextOffer() {
    m_picture->setOffer(static_cast<int>(QRandomGenerator::global()->bounded(OfferCount)));
    if (!m_timer->isActive())
        m_timer->start();
}

int OffersPane::topOffset() const {
    // Measured from the pane's top, which is the dock's, above its title bar:
    // the part of the distance the title bar takes is not added again here.
    const int wanted = qRound(TopOffsetTwips * logicalDpiY() / 1440.0);
    const int above = parentWidget() ? y() : 0;
    return std::max(0, wanted - above);
}

QSize OffersPane::sizeHint() const {
    return {kPictureSize.width(), topOffset() + kPictureSize.height()};
}

QSize OffersPane::minimumSizeHint() const {
    return sizeHint();
}

void OffersPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutPicture();
}

void OffersPane::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    layoutPicture();
}

void OffersPane::layoutPicture() {
    const int top = topOffset();
    if (height() != top + m_picture->height())
        setFixedHeight(top + m_picture->height());
    m_picture->move((width() - m_picture->width()) / 2, top);
}
