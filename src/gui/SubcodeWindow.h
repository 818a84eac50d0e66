#pragma once

#include "app/SubcodeWindowModel.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QTimer;

namespace tarnvel::gui {

// TDisplaySubForm: the subcode dump of the last frame (Shift+Ctrl+Play) or, for eight
// seconds, the file being created or read. A tool window over the main window.
class SubcodeWindow : public QWidget {
    Q_OBJECT
public:
    explicit SubcodeWindow(QWidget* mainWindow);

    // Mode 0 "Creating...", 1 "Reading..." (a file name), 2 the dump; `visible` false hides.
    void showText(int mode, const std::string& text, bool visible);
    const app::SubcodeWindowModel& model() const { return model_; }
    QString shownText() const;

private:
    void place();

    QWidget* main_;
    app::SubcodeWindowModel model_;
    QLabel* label_;
    QLabel* name_;
    QPlainTextEdit* dump_;
    QTimer* hideTimer_;
};

} // namespace tarnvel::gui
