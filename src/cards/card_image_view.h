#pragma once
#include "core/card_image_store.h"

#include <QImage>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;

namespace ostrel {

// The card's paper image beside the editor's fields: fitted to the panel at first, zoomed
// with the buttons or Ctrl and the mouse wheel, scrolled when larger than the panel. A card
// with a back side gets 正面 and 背面 to switch between the two.
class CardImageView : public QWidget {
    Q_OBJECT
public:
    explicit CardImageView(QWidget* parent = nullptr);
    // Shows the front; the back (null: none) is a click away.
    void setImages(const QImage& front, const QImage& back = {});
    // Takes the back side and shows it.
    void setBack(const QImage& back);
    void showSide(CardSide side);
    CardSide side() const { return m_side; }
    // The side shown.
    const QImage& image() const { return m_image; }
    // A button of the window's own under the image, beside the zoom buttons.
    void addButton(QPushButton* button);

    QPushButton* FrontButton;
    QPushButton* BackButton;
    // The shown size against the image's own (1.0 is one image pixel per screen pixel).
    double zoom() const { return m_zoom; }
    void zoomBy(double factor);
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showZoomed();

    QImage m_front;
    QImage m_back;
    QImage m_image;
    CardSide m_side = CardSide::Front;
    double m_zoom = 1.0;
    bool m_fitting = true; // follows the panel's size until the user zooms
    QScrollArea* m_area;
    QLabel* m_picture;
    QHBoxLayout* m_buttons;
};

} // namespace ostrel
