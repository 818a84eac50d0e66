#pragma once

#include <QDialog>

namespace tarnvel::gui {

// TAboutForm: the program's name, version and what it does.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
};

} // namespace tarnvel::gui
