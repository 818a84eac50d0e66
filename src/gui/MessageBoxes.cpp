#include "gui/MessageBoxes.h"

#include <QApplication>
#include <QGridLayout>
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

// Room the title bar takes besides the title: the window's icon and buttons.
constexpr int kTitleBarControls = 120;

// A short question makes a narrow box, and the window system cuts its title to the width:
// the box is made as wide as the title needs (in a bold font, as title bars mostly show it).
void makeRoomForTitle(QMessageBox& box)
{
    QFont bold = box.font();
    bold.setBold(true);
    const int needed = QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + kTitleBarControls;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(needed, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

void showMessageBox(QWidget* parent, const QString& title, const std::string& text,
                    MessageIcon icon, const std::string& caption)
{
    QMessageBox box(boxIcon(icon), boxTitle(title, caption), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    box.setObjectName("MessageBox");
    makeRoomForTitle(box);
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
    makeRoomForTitle(box);
    const int result = box.exec();
    engine::Answer a;
    a.yes = result == QMessageBox::Yes || result == QMessageBox::Ok;
    a.shift = (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0;
    return a;
}

} // namespace tarnvel::gui
