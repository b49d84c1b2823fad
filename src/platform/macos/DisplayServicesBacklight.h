#pragma once
// The built-in panel's backlight through the private DisplayServices framework, opened at
// run time. Each of its four functions is looked up on its own; one that is missing (or the
// whole framework) leaves that operation absent.

#include "platform/Backlight.h"

class DisplayServicesBacklight {
public:
    static constexpr const char* frameworkPath = "/System/Library/PrivateFrameworks/DisplayServices.framework/DisplayServices";

    // library stands for the framework's binary.
    explicit DisplayServicesBacklight(const char* library = frameworkPath);

    const Backlight& functions() const { return functions_; }

private:
    Backlight functions_;
};
