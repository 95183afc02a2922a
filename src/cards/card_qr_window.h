#pragma once
#include "core/card_qr.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QWidget;

namespace ostrel {

// 二维码名片: the card as a QR code for a phone's camera, the card's name under it and what
// was left out to fit; the image can be copied or saved as PNG.
class CardQrWindow : public QDialog {
    Q_OBJECT
public:
    CardQrWindow(const CardValues& card, QWidget* parent);

    const CardQrCode& code() const { return m_code; }
    // The image copied and saved: big enough to print, every module the same size.
    QImage fullImage() const;

    QLabel* CodeLabel;
    QLabel* NameLabel;
    QLabel* LeftOutLabel;
    QPushButton* CopyButton; // 复制图片
    QPushButton* SaveButton; // 保存图片…

    void copyImage();
    void saveImage();

private:
    CardQrCode m_code;
    QString m_name;
};

// Opens the window for the card, or says why there is no code for it.
void showCardQrCode(const CardValues& card, QWidget* parent);

} // namespace ostrel
