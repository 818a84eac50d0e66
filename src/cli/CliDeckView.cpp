#include "cli/CliDeckView.h"

#include <iostream>

namespace tarnvel::cli {

using engine::Control;

void CliDeckView::printLine(const std::string& line, bool toErr)
{
    if (liveShown_) {
        std::cout << "\r\033[K";
        liveShown_ = false;
    }
    (toErr ? std::cerr : std::cout) << line << std::endl;
}

void CliDeckView::setText(Control c, const std::string& text)
{
    switch (c) {
    case Control::RunningStatusStaticText:
        running_ = text;
        // Transitions only: the idle poll repeats " Ready" every second.
        if (echo_ && !text.empty() && text != lastPrintedRunning_) {
            lastPrintedRunning_ = text;
            printLine(text);
        }
        break;
    case Control::ErrorStatusStaticText:
        if (!text.empty() && text != error_)
            printLine(text, true);
        error_ = text;
        break;
    case Control::ProgNumStaticText:
        fields_.programNumber = text;
        break;
    case Control::IDStaticText:
        idText_ = text;
        fields_.idText = idVisible_ ? idText_ : std::string{};
        break;
    case Control::FormatStaticText:
        fields_.format = text;
        break;
    case Control::ErrorLchStaticText:
        fields_.errorsLeft = text;
        break;
    case Control::ErrorRchStaticText:
        fields_.errorsRight = text;
        break;
    case Control::AbsTimeErrorStaticText:
        fields_.errorsAbs = text;
        break;
    default:
        break;
    }
}

void CliDeckView::setVisible(Control c, bool visible)
{
    if (c == Control::IDStaticText) {
        idVisible_ = visible;
        fields_.idText = visible ? idText_ : std::string{};
    }
}

void CliDeckView::showDisplays(const engine::DisplayRefresh& refresh)
{
    if (refresh.samples == nullptr)
        return;
    fields_.hasLevels = true;
    fields_.levels = refresh.samples->levels;
}

void CliDeckView::showSubcodeWindow(int /*mode*/, const std::string& text, bool /*visible*/)
{
    dump_ = text;
}

void CliDeckView::showMessage(const std::string& text, MessageIcon, const std::string&)
{
    lastMessage_ = text;
    printLine(text, true);
}

engine::Answer CliDeckView::ask(const std::string& text, engine::Buttons, MessageIcon,
                                const std::string&)
{
    printLine(text, true);
    printLine(assumeYes_ ? "(--yes: Yes)" : "(No: give --yes to answer Yes)", true);
    return {assumeYes_, false};
}

std::string CliDeckView::askSaveFileName(const engine::SaveFileQuestion& /*question*/)
{
    return saveFileAnswer_;
}

void CliDeckView::live(bool force)
{
    if (!liveOn_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (terminal_) {
        if (!force && now - lastLive_ < std::chrono::milliseconds(200))
            return;
        lastLive_ = now;
        std::cout << "\r\033[K" << engine::statusLine(fields_)
                  << (liveExtra_ ? liveExtra_() : std::string{}) << std::flush;
        liveShown_ = true;
        return;
    }
    // A log gets a line when the program changes and every ten seconds.
    if (force || fields_.programNumber != lastPlainProgram_ ||
        now - lastPlain_ >= std::chrono::seconds(10)) {
        lastPlainProgram_ = fields_.programNumber;
        lastPlain_ = now;
        std::cout << engine::statusLine(fields_) << (liveExtra_ ? liveExtra_() : std::string{})
                  << std::endl;
    }
}

void CliDeckView::finish()
{
    if (liveShown_) {
        std::cout << "\r\033[K";
        liveShown_ = false;
    }
    engine::StatusLineFields last = fields_;
    last.hasLevels = false;
    std::cout << engine::statusLine(last) << std::endl;
}

} // namespace tarnvel::cli
