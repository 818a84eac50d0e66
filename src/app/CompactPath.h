#pragma once

#include <functional>
#include <string>

namespace tarnvel::app {

// A path shortened to fit a field, the way file names are shown in narrow controls: while it
// does not fit, folders are taken out of its middle and replaced by "..." (the first folder
// and the file name stay: "/home/.../take01.WAV"); when even that is too wide, the middle of
// the file name itself makes way for "..." ("conc...take01.WAV"). `fits` tells whether a
// text fits (the view measures it in its font).
std::string compactPath(const std::string& path,
                        const std::function<bool(const std::string&)>& fits);

} // namespace tarnvel::app
