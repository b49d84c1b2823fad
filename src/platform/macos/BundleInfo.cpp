#include "platform/macos/BundleInfo.h"

#include <CoreFoundation/CoreFoundation.h>

#include <QByteArray>

namespace {

std::optional<QString> toQString(CFTypeRef value)
{
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return std::nullopt;
    const auto text = static_cast<CFStringRef>(value);
    const CFIndex size = CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
    QByteArray buffer(size, '\0');
    if (!CFStringGetCString(text, buffer.data(), size, kCFStringEncodingUTF8))
        return std::nullopt;
    return QString::fromUtf8(buffer.constData());
}

// Opens the bundle, reads one string with `read` and releases everything again.
template <typename Read>
std::optional<QString> readString(const QString& bundlePath, Read read)
{
    const QByteArray path = bundlePath.toUtf8();
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(kCFAllocatorDefault,
        reinterpret_cast<const UInt8*>(path.constData()), path.size(), true);
    if (!url)
        return std::nullopt;
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
    CFRelease(url);
    if (!bundle)
        return std::nullopt;
    // Owned by the bundle: converted before the bundle is released.
    std::optional<QString> text = toQString(read(bundle));
    CFRelease(bundle);
    return text;
}

}  // namespace

namespace BundleInfo {

std::optional<QString> identifier(const QString& bundlePath)
{
    return readString(bundlePath, [](CFBundleRef bundle) -> CFTypeRef { return CFBundleGetIdentifier(bundle); });
}

std::optional<QString> shortVersion(const QString& bundlePath)
{
    return readString(bundlePath, [](CFBundleRef bundle) {
        return CFBundleGetValueForInfoDictionaryKey(bundle, CFSTR("CFBundleShortVersionString"));
    });
}

}  // namespace BundleInfo
