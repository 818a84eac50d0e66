#include "engine/PlayToFileForm.h"

#include "engine/EngineMessages.h"

#include <algorithm>

namespace tarnvel::engine {

const std::vector<std::string>& PlayToFileForm::preReadItems()
{
    static const std::vector<std::string> items{"0", "0.1", "0.2", "0.3", "0.4", "0.5"};
    return items;
}

void PlayToFileForm::show(const app::Settings& settings, bool peerRunning, bool virtualIdMode)
{
    peerRunning_ = peerRunning;
    virtualIdMode_ = virtualIdMode;
    withSound = !settings.WriteToFileOnly;
    divide = settings.EnableDivideFileAtID;
    preReadIndex = std::clamp(settings.PreReadIDsec10, 0, 5);
    if (!destinationEnabled(destination))
        destination = PlayDestination::Wave;
}

bool PlayToFileForm::destinationEnabled(PlayDestination d) const
{
    return (d != PlayDestination::PeerAudio && d != PlayDestination::PeerImage) || peerRunning_;
}

std::string PlayToFileForm::divideCaption() const
{
    return tr(virtualIdMode_ ? msg::kDivideAtVirtualId : msg::kDivideAtId);
}

std::string absoluteIn(const std::string& name, const std::string& dir)
{
    if (name.empty() || name.front() == '/')
        return name;
    std::string d = dir;
    if (!d.empty() && d.back() != '/')
        d += '/';
    return d + name;
}

bool PlayToFileForm::ok(app::Settings& settings, bool shift,
                        const std::function<bool(const std::string&)>& askOkCancel,
                        MessageSink& sink)
{
    PlayToFileRequest r;
    r.destination = destination;
    r.withSound = withSound;
    std::string* name = nullptr;
    if (destination == PlayDestination::Wave)
        name = &waveBase;
    else if (destination == PlayDestination::Image)
        name = &imageName;
    if (name != nullptr) {
        if (name->empty()) {
            sink.showMessage(tr(msg::kPleaseInputFileName), MessageIcon::Warning);
            return false;
        }
        *name = absoluteIn(*name, settings.Dir);
        settings.Dir = name->substr(0, name->rfind('/') + 1);
    }
    if (destination == PlayDestination::Image && shift) {
        if (!askOkCancel(tr(msg::kImageFromHere)))
            return false;
        r.imageFromHere = true;
    }
    settings.WriteToFileOnly = !withSound;
    if (destination == PlayDestination::Wave) {
        settings.EnableDivideFileAtID = divide;
        settings.PreReadIDsec10 = preReadIndex;
    }
    r.waveBase = waveBase;
    r.imageName = imageName;
    r.imageComment = imageComment.substr(0, 80);
    r.divide = divide;
    r.preReadTenths = preReadIndex;
    request_ = r;
    return true;
}

} // namespace tarnvel::engine
