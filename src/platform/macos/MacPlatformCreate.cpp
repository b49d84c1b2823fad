// The application's platform on macOS: the Mac backends with the archive and process tools
// they share with Linux (POSIX and libarchive only).
#include "platform/macos/MacPlatform.h"

#include "platform/linux/DetachedProcessLauncher.h"
#include "platform/linux/LibArchiveExtractor.h"

namespace {

struct Tools {
    LibArchiveExtractor extractor;
    DetachedProcessLauncher launcher;
};

// The tools are constructed before the backends that keep references to them.
class ApplicationMacPlatform : private Tools, public MacPlatform {
public:
    ApplicationMacPlatform()
        : MacPlatform(extractor, launcher)
    {
    }
};

}  // namespace

std::string Platform::unreachableReason(const std::string&)
{
    return {};  // the window server is always there for a logged-in user
}

std::unique_ptr<Platform> Platform::create()
{
    return std::make_unique<ApplicationMacPlatform>();
}
