#include "gui/SubcodeWindow.h"

#include "gui/GuiText.h"
#include "gui/WindowPlace.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

namespace tarnvel::gui {

SubcodeWindow::SubcodeWindow(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool), main_(mainWindow), label_(new QLabel(this)),
      name_(new QLabel(this)), dump_(new QPlainTextEdit(this)), hideTimer_(new QTimer(this))
{
    setObjectName("TDisplaySubForm");
    dump_->setObjectName("SubcodeText");
    dump_->setReadOnly(true);
    dump_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    dump_->setLineWrapMode(QPlainTextEdit::NoWrap);
    dump_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    name_->setObjectName("FileNameText");
    hideTimer_->setSingleShot(true);
    connect(hideTimer_, &QTimer::timeout, this, &QWidget::hide);
}

QString SubcodeWindow::shownText() const
{
    return model_.mode() == app::SubcodeWindowModel::kModeDump ? dump_->toPlainText()
                                                               : name_->text();
}

void SubcodeWindow::showText(int mode, const std::string& text, bool visible)
{
    if (!visible) {
        hideTimer_->stop();
        hide();
        return;
    }
    model_.setMode(mode);
    const app::SubcodeWindowLayout& l = model_.layout();
    setWindowTitle(qstr(l.caption));
    const bool dump = mode == app::SubcodeWindowModel::kModeDump;
    // The model's sizes are the design's; the fonts of the desktop may be larger, so the
    // window grows to hold its text (and the design's layout scales with the font).
    const QFontMetrics fm(name_->font());
    const int scale = std::max(16, fm.height());
    const auto px = [scale](int design) { return design * scale / 16; };
    const int fieldWidth = px(l.textWidth);
    const std::string& shown = model_.setText(
        text, [&](const std::string& s) { return fm.horizontalAdvance(qstr(s)) <= fieldWidth; });
    int width = px(l.width);
    int height = px(l.height);
    int textWidth = px(l.textWidth);
    int textHeight = px(l.textHeight);
    if (dump) {
        const QFontMetrics dm(dump_->font());
        int longest = 0;
        int lines = 0;
        for (const QString& line : qstr(shown).split(QLatin1Char('\n'))) {
            longest = std::max(longest, dm.horizontalAdvance(line));
            ++lines;
        }
        const int margins =
            2 * dump_->frameWidth() + 2 * static_cast<int>(dump_->document()->documentMargin());
        textWidth = std::max(textWidth, longest + margins + dm.averageCharWidth() * 2);
        textHeight = std::max(textHeight, (lines + 1) * dm.lineSpacing() + margins);
        width = textWidth + px(l.width - l.textWidth);
        height = textHeight + px(l.height - l.textHeight);
    }
    resize(width, height);
    label_->setVisible(l.labelVisible);
    label_->setText(qstr(l.label));
    label_->setGeometry(px(5), px(l.textTop), px(l.textLeft - 8), px(l.textHeight));
    dump_->setVisible(dump);
    name_->setVisible(!dump);
    if (dump) {
        dump_->setGeometry(px(l.textLeft), px(l.textTop), textWidth, textHeight);
        dump_->setPlainText(qstr(shown));
    } else {
        name_->setGeometry(px(l.textLeft), px(l.textTop), fieldWidth, textHeight);
        name_->setText(qstr(shown));
    }
    place();
    show();
    if (model_.hideAfterMs() > 0)
        hideTimer_->start(model_.hideAfterMs());
    else
        hideTimer_->stop();
}

void SubcodeWindow::place()
{
    const QRect m = main_->frameGeometry();
    const auto [x, y] = model_.placement(m.x(), m.y(), m.width(), m.height());
    placeInside(this, QPoint(x, y), availableArea(main_));
}

} // namespace tarnvel::gui
