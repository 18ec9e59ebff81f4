#include "ui/MessageBoxes.h"

#include <QMessageBox>

namespace varnis {

void QtMessageBoxes::Message(QWidget* pOwner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, pOwner);
    box.exec();
}

void QtMessageBoxes::Error(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, nullptr);
    box.exec();
}

bool QtMessageBoxes::Confirm(QWidget* pOwner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok | QMessageBox::Cancel, pOwner);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

}  // namespace varnis
