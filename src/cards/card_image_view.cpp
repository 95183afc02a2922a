#include "card_image_view.h"

#include "ui/common/window_parts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace ostrel {

namespace {
constexpr double kMinZoom = 0.05;
constexpr double kMaxZoom = 4.0;
constexpr double kStep = 1.25;
} // namespace

CardImageView::CardImageView(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* title = new QHBoxLayout;
    title->addWidget(new QLabel(QStringLiteral("名片图像（Ctrl+滚轮缩放）："), this), 1);
    const auto sideButton = [&](const char* name, const QString& caption, CardSide side) {
        auto* b = named(new QPushButton(caption, this), name);
        b->setCheckable(true);
        b->setAutoDefault(false);
        b->setFixedWidth(48);
        b->hide();
        connect(b, &QPushButton::clicked, this, [this, side] { showSide(side); });
        title->addWidget(b);
        return b;
    };
    FrontButton = sideButton("FrontButton", QStringLiteral("正面"), CardSide::Front);
    BackButton = sideButton("BackButton", QStringLiteral("背面"), CardSide::Back);
    column->addLayout(title);
    m_area = named(new QScrollArea(this), "CardImageArea");
    m_area->setAlignment(Qt::AlignCenter);
    m_picture = named(new QLabel(m_area), "CardImagePicture");
    m_area->setWidget(m_picture);
    m_area->viewport()->installEventFilter(this);
    column->addWidget(m_area, 1);
    auto* buttons = m_buttons = new QHBoxLayout;
    const auto button = [&](const char* name, const QString& caption, auto action) {
        auto* b = named(new QPushButton(caption, this), name);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, action);
        buttons->addWidget(b);
    };
    button("ZoomInButton", QStringLiteral("放大"), [this] { zoomBy(kStep); });
    button("ZoomOutButton", QStringLiteral("缩小"), [this] { zoomBy(1 / kStep); });
    button("FitButton", QStringLiteral("适合窗口"), [this] { fit(); });
    column->addLayout(buttons);
}

void CardImageView::setImages(const QImage& front, const QImage& back)
{
    m_front = front;
    m_back = back;
    showSide(CardSide::Front);
}

void CardImageView::setBack(const QImage& back)
{
    m_back = back;
    showSide(CardSide::Back);
}

void CardImageView::showSide(CardSide side)
{
    if (m_back.isNull())
        side = CardSide::Front;
    m_side = side;
    m_image = side == CardSide::Back ? m_back : m_front;
    FrontButton->setVisible(!m_back.isNull());
    BackButton->setVisible(!m_back.isNull());
    FrontButton->setChecked(side == CardSide::Front);
    BackButton->setChecked(side == CardSide::Back);
    fit();
}

void CardImageView::addButton(QPushButton* button)
{
    button->setParent(this);
    m_buttons->addWidget(button);
}

void CardImageView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_fitting)
        fit();
}

void CardImageView::fit()
{
    m_fitting = true;
    if (m_image.isNull())
        return;
    // Placed now: a panel not shown yet has its size, but its scroll area's viewport not.
    layout()->setGeometry(rect());
    const int frame = 2 * m_area->frameWidth() + 4;
    const QSize room = m_area->size() - QSize(frame, frame);
    m_zoom = std::clamp(std::min(double(room.width() - 4) / m_image.width(), double(room.height() - 4) / m_image.height()),
                        kMinZoom, kMaxZoom);
    showZoomed();
}

void CardImageView::zoomBy(double factor)
{
    m_fitting = false;
    m_zoom = std::clamp(m_zoom * factor, kMinZoom, kMaxZoom);
    showZoomed();
}

void CardImageView::showZoomed()
{
    if (m_image.isNull()) {
        m_picture->clear();
        return;
    }
    const QSize size = (QSizeF(m_image.size()) * m_zoom).toSize().expandedTo({1, 1});
    m_picture->setPixmap(QPixmap::fromImage(m_image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    m_picture->resize(size);
}

bool CardImageView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            zoomBy(wheel->angleDelta().y() > 0 ? kStep : 1 / kStep);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ostrel
