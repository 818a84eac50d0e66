#pragma once

#include "common/MessageSink.h"
#include "engine/DeckView.h"

#include <QString>

class QWidget;

namespace tarnvel::gui {

// Message boxes as the program shows them: the caption is the program title unless a dialog
// path is given, warnings carry the exclamation icon. Questions report the Shift state at
// the moment the box was dismissed.
void showMessageBox(QWidget* parent, const QString& title, const std::string& text,
                    MessageIcon icon, const std::string& caption);
engine::Answer askMessageBox(QWidget* parent, const QString& title, const std::string& text,
                             engine::Buttons buttons, MessageIcon icon, const std::string& caption);

// A message sink that shows boxes over a window.
class WindowMessageSink : public MessageSink {
public:
    WindowMessageSink(QWidget* parent, QString title) : parent_(parent), title_(std::move(title)) {}
    void showMessage(const std::string& text, MessageIcon icon, const std::string& caption) override
    {
        showMessageBox(parent_, title_, text, icon, caption);
    }
    void setParent(QWidget* parent) { parent_ = parent; }

private:
    QWidget* parent_;
    QString title_;
};

} // namespace tarnvel::gui
