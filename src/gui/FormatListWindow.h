#pragma once

#include "app/SetupForm.h"

#include <QDialog>

namespace tarnvel::gui {

// TFormatListForm: which sample formats a device accepts, as the setup dialog worked them
// out. Modal; "&Close" or Esc closes it.
class FormatListWindow : public QDialog {
    Q_OBJECT
public:
    FormatListWindow(const app::FormatListView& view, QWidget* parent);
};

} // namespace tarnvel::gui
