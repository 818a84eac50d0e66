#pragma once

#include "app/SetupForm.h"

#include <QDialog>
#include <array>

class QAbstractButton;
class QLabel;
class QTabWidget;
class QWidget;

namespace tarnvel {
class MessageSink;
}

namespace tarnvel::gui {

// TSetupDlg: three pages of controls over the SetupForm model. Every control writes its
// setting at once; "&Apply" keeps the changes, "&Cancel" and the close box put the values
// of the showing back. It stays open beside the deck (not modal).
class SetupDialog : public QDialog {
    Q_OBJECT
public:
    SetupDialog(app::SetupForm& form, app::Settings& settings, const QString& programTitle,
                MessageSink& sink, QWidget* parent);

    // Shows the dialog with the controls filled from the settings (a new snapshot).
    void showForm();
    // Fills every control from the model (after a change or a busy state change).
    void refresh();
    app::SetupForm& form() { return form_; }
    // The widget of a control; radio groups give their first button.
    QWidget* controlWidget(app::SetupControl c) const;

    void accept() override;
    void reject() override;

Q_SIGNALS:
    void helpRequested(const QString& topic);
    void aboutRequested();

private:
    QWidget* buildPlayRec();
    QWidget* buildSoundDevice();
    QWidget* buildMisc();
    QWidget* make(app::SetupControl c);
    QLabel* noteLabel(app::SetupControl representative);
    void pageChanged(int page);
    void storePlacement();

    app::SetupForm& form_;
    app::Settings& settings_;
    MessageSink& sink_;
    QTabWidget* pages_ = nullptr;
    std::array<QWidget*, static_cast<std::size_t>(app::SetupControl::Count_)> widgets_{};
    std::array<QAbstractButton*, static_cast<std::size_t>(app::SetupControl::Count_)>
        secondRadio_{};
    std::vector<std::pair<QLabel*, app::SetupControl>> notes_;
    QWidget* playFormatList_ = nullptr;
    QWidget* recFormatList_ = nullptr;
    QWidget* playInfo_ = nullptr;
    QWidget* recInfo_ = nullptr;
    bool filling_ = false;
    int shownPage_ = 0;
};

} // namespace tarnvel::gui
