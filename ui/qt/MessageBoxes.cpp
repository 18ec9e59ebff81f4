#include "ui/qt/MessageBoxes.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>

namespace varnis {

namespace {

// Title-bar buttons a window manager puts beside a caption: the window's
// icon, minimise, maximise and close.
constexpr int kCaptionButtons = 4;

// The width a box keeps free for its caption: the caption's text in a bold
// title font and the title bar's buttons.
int CaptionRoomOf(const QMessageBox& box)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);  // many window managers draw captions in bold
    const int nButton = box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box);
    return QFontMetrics(font).horizontalAdvance(box.windowTitle()) + kCaptionButtons * nButton;
}

// A box as small as its text would leave the window manager no room for its
// caption: a strut across the box's layout keeps it at least that wide.
void MakeRoomForCaption(QMessageBox& box)
{
    auto* pLayout = qobject_cast<QGridLayout*>(box.layout());
    if (pLayout == nullptr)
        return;
    pLayout->addItem(new QSpacerItem(CaptionRoomOf(box), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                     pLayout->rowCount(), 0, 1, pLayout->columnCount());
}

}  // namespace

void QtMessageBoxes::Message(QWidget* pOwner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, pOwner);
    MakeRoomForCaption(box);
    box.exec();
}

void QtMessageBoxes::Error(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, nullptr);
    MakeRoomForCaption(box);
    box.exec();
}

bool QtMessageBoxes::Confirm(QWidget* pOwner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok | QMessageBox::Cancel, pOwner);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    MakeRoomForCaption(box);
    return box.exec() == QMessageBox::Ok;
}

}  // namespace varnis
