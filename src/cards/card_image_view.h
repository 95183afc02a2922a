#pragma once
#include <QImage>
#include <QWidget>

class QLabel;
class QScrollArea;

namespace ostrel {

// The card's paper image beside the editor's fields: fitted to the panel at first, zoomed
// with the buttons or Ctrl and the mouse wheel, scrolled when larger than the panel.
class CardImageView : public QWidget {
    Q_OBJECT
public:
    explicit CardImageView(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    const QImage& image() const { return m_image; }
    // The shown size against the image's own (1.0 is one image pixel per screen pixel).
    double zoom() const { return m_zoom; }
    void zoomBy(double factor);
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showZoomed();

    QImage m_image;
    double m_zoom = 1.0;
    bool m_fitting = true; // follows the panel's size until the user zooms
    QScrollArea* m_area;
    QLabel* m_picture;
};

} // namespace ostrel
