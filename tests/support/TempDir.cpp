#include "support/TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tarnvel::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnvel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace tarnvel::test
