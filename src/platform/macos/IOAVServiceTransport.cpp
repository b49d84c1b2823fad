#include "platform/macos/IOAVServiceTransport.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <thread>

// IOAVService has no public header; these shapes are what the system exports.
extern "C" {
typedef CFTypeRef IOAVServiceRef;
using IOAVServiceCreateWithServiceFn = IOAVServiceRef (*)(CFAllocatorRef allocator, io_service_t service);
using IOAVServiceWriteI2CFn = IOReturn (*)(IOAVServiceRef service, std::uint32_t chipAddress, std::uint32_t dataAddress,
    void* inputBuffer, std::uint32_t inputBufferSize);
using IOAVServiceReadI2CFn = IOReturn (*)(IOAVServiceRef service, std::uint32_t chipAddress, std::uint32_t offset,
    void* outputBuffer, std::uint32_t outputBufferSize);
}

namespace {

// The endpoint owns its service reference; endpoints reach this transport only from its own
// externalServices(), so a DDCService here is always one of these.
struct AVServiceEndpoint : DDCEndpoint {
    explicit AVServiceEndpoint(IOAVServiceRef ref, int index)
        : service(ref)
    {
        device = "IOAVService";
        connector = "External " + std::to_string(index);
    }
    ~AVServiceEndpoint() { CFRelease(service); }
    AVServiceEndpoint(const AVServiceEndpoint&) = delete;
    AVServiceEndpoint& operator=(const AVServiceEndpoint&) = delete;

    IOAVServiceRef service;
};

IOAVServiceRef serviceOf(const DDCService& endpoint)
{
    return endpoint ? static_cast<const AVServiceEndpoint&>(*endpoint).service : nullptr;
}

bool isExternal(io_registry_entry_t entry)
{
    CFTypeRef location = IORegistryEntrySearchCFProperty(entry, kIOServicePlane, CFSTR("Location"),
        kCFAllocatorDefault, kIORegistryIterateRecursively);
    if (!location)
        return false;
    const bool external = CFGetTypeID(location) == CFStringGetTypeID() && CFEqual(location, CFSTR("External"));
    CFRelease(location);
    return external;
}

}  // namespace

IOAVServiceTransport::IOAVServiceTransport()
{
    createWithService_ = dlsym(RTLD_DEFAULT, "IOAVServiceCreateWithService");
    writeI2C_ = dlsym(RTLD_DEFAULT, "IOAVServiceWriteI2C");
    readI2C_ = dlsym(RTLD_DEFAULT, "IOAVServiceReadI2C");
}

bool IOAVServiceTransport::available()
{
    return createWithService_ && writeI2C_ && readI2C_;
}

std::vector<DDCService> IOAVServiceTransport::externalServices()
{
    std::vector<DDCService> services;
    if (!createWithService_)
        return services;
    const auto create = reinterpret_cast<IOAVServiceCreateWithServiceFn>(createWithService_);

    io_registry_entry_t root = IORegistryGetRootEntry(kIOMainPortDefault);
    if (root == IO_OBJECT_NULL)
        return services;
    io_iterator_t iterator = IO_OBJECT_NULL;
    const kern_return_t status = IORegistryEntryCreateIterator(root, kIOServicePlane, kIORegistryIterateRecursively, &iterator);
    IOObjectRelease(root);
    if (status != KERN_SUCCESS)
        return services;

    while (io_object_t entry = IOIteratorNext(iterator)) {
        io_name_t name {};
        if (IORegistryEntryGetName(entry, name) == KERN_SUCCESS && std::strcmp(name, "DCPAVServiceProxy") == 0
            && isExternal(entry)) {
            if (IOAVServiceRef service = create(kCFAllocatorDefault, entry))
                services.push_back(std::make_shared<const AVServiceEndpoint>(service, static_cast<int>(services.size()) + 1));
        }
        IOObjectRelease(entry);
    }
    IOObjectRelease(iterator);
    return services;
}

int IOAVServiceTransport::writeI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
    const std::uint8_t* buffer, std::uint32_t length)
{
    IOAVServiceRef ref = serviceOf(service);
    if (!writeI2C_ || !ref)
        return -1;
    // The function takes a non-const buffer but only reads it.
    return reinterpret_cast<IOAVServiceWriteI2CFn>(writeI2C_)(ref, chip, dataAddress, const_cast<std::uint8_t*>(buffer), length);
}

int IOAVServiceTransport::readI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
    std::uint8_t* buffer, std::uint32_t length)
{
    IOAVServiceRef ref = serviceOf(service);
    if (!readI2C_ || !ref)
        return -1;
    return reinterpret_cast<IOAVServiceReadI2CFn>(readI2C_)(ref, chip, dataAddress, buffer, length);
}

void IOAVServiceTransport::pause(std::uint32_t microseconds)
{
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}
