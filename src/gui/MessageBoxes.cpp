#include "gui/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace tarnvel::gui {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::Warning;
}

QString boxTitle(const QString& title, const std::string& caption)
{
    return caption.empty() ? title : QString::fromStdString(caption);
}

} // namespace

void showMessageBox(QWidget* parent, const QString& title, const std::string& text,
                    MessageIcon icon, const std::string& caption)
{
    QMessageBox box(boxIcon(icon), boxTitle(title, caption), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    box.setObjectName("MessageBox");
    box.exec();
}

engine::Answer askMessageBox(QWidget* parent, const QString& title, const std::string& text,
                             engine::Buttons buttons, MessageIcon icon, const std::string& caption)
{
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    if (buttons == engine::Buttons::YesNo)
        set = QMessageBox::Yes | QMessageBox::No;
    else if (buttons == engine::Buttons::OkCancel)
        set = QMessageBox::Ok | QMessageBox::Cancel;
    QMessageBox box(boxIcon(icon), boxTitle(title, caption), QString::fromStdString(text), set,
                    parent);
    box.setObjectName("MessageBox");
    const int result = box.exec();
    engine::Answer a;
    a.yes = result == QMessageBox::Yes || result == QMessageBox::Ok;
    a.shift = (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0;
    return a;
}

} // namespace tarnvel::gui
