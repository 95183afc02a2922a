#include "card_qr_window.h"

#include "app/application.h"
#include "app/dialogs.h"
#include "engine/engine_error.h"
#include "ui/common/window_parts.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <memory>

namespace ostrel {

namespace {

// The code on screen is about this many pixels a side, in whole pixels a module so that
// every module is as sharp as the next.
constexpr int kShownSide = 360;
constexpr int kSavedModule = 10;

// A file name from the card's name: what a file system refuses becomes "_".
QString fileNameOf(const QString& name)
{
    QString out = name.trimmed();
    for (QChar& c : out)
        if (c.unicode() < 0x20 || QStringView(u"\\/:*?\"<>|").contains(c))
            c = u'_';
    return out.isEmpty() ? QStringLiteral("名片") : out;
}

} // namespace

CardQrWindow::CardQrWindow(const CardValues& card, QWidget* parent)
    : QDialog(parent), m_code(cardQrCode(card)), m_name(card[static_cast<size_t>(kNameField)])
{
    setCloseBoxOnly(this);
    setObjectName(QStringLiteral("CardQrWindow"));
    setWindowTitle(QStringLiteral("二维码名片"));
    CodeLabel = named(new QLabel(this), "CodeLabel");
    CodeLabel->setAlignment(Qt::AlignCenter);
    const qreal ratio = devicePixelRatioF();
    const int modules = m_code.width + 8;
    const int moduleSize = std::max(1, static_cast<int>(kShownSide * ratio) / modules);
    QPixmap shown = QPixmap::fromImage(m_code.image(moduleSize));
    shown.setDevicePixelRatio(ratio);
    CodeLabel->setPixmap(shown);
    NameLabel = named(new QLabel(m_name, this), "NameLabel");
    NameLabel->setAlignment(Qt::AlignCenter);
    QFont big = NameLabel->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    NameLabel->setFont(big);
    NameLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LeftOutLabel = named(new QLabel(this), "LeftOutLabel");
    LeftOutLabel->setAlignment(Qt::AlignCenter);
    LeftOutLabel->setWordWrap(true);
    LeftOutLabel->setStyleSheet(QStringLiteral("color: #A04000;"));
    if (!m_code.leftOut.isEmpty())
        LeftOutLabel->setText(QStringLiteral("二维码容量有限，未放入：") + m_code.leftOut.join(QStringLiteral("、")));
    LeftOutLabel->setVisible(!m_code.leftOut.isEmpty());
    CopyButton = named(new QPushButton(QStringLiteral("复制图片"), this), "CopyButton");
    SaveButton = named(new QPushButton(QStringLiteral("保存图片…"), this), "SaveButton");
    for (QPushButton* button : {CopyButton, SaveButton})
        button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CopyButton);
    buttons->addWidget(SaveButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CodeLabel);
    layout->addWidget(NameLabel);
    layout->addWidget(LeftOutLabel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    LeftOutLabel->setMaximumWidth(kShownSide);
    connectGuarded(CopyButton, &QPushButton::clicked, this, &CardQrWindow::copyImage);
    connectGuarded(SaveButton, &QPushButton::clicked, this, &CardQrWindow::saveImage);
}

QImage CardQrWindow::fullImage() const
{
    return m_code.image(kSavedModule);
}

void CardQrWindow::copyImage()
{
    QApplication::clipboard()->setImage(fullImage());
}

void CardQrWindow::saveImage()
{
    // The pictures folder when there is one; else the dialog would open in the program's.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!QDir(folder).exists())
        folder = QDir::homePath();
    const QString suggested = QDir(folder).filePath(fileNameOf(m_name) + QStringLiteral("-二维码.png"));
    QString path = chooseSaveFile(this, QStringLiteral("保存图片"), suggested, QStringLiteral("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        path += QStringLiteral(".png");
    // Written beside the target and put in its place only when whole.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || !fullImage().save(&out, "PNG") || !out.commit())
        throw EngineError(QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path), out.errorString()));
    showInfo(this, QStringLiteral("图片已保存：") + QDir::toNativeSeparators(path));
}

void showCardQrCode(const CardValues& card, QWidget* parent)
{
    auto window = std::make_unique<CardQrWindow>(card, parent);
    if (!window->code().ok()) {
        showInfo(parent, window->code().error);
        return;
    }
    showModal(window.get());
}

} // namespace ostrel
