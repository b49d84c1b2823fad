#pragma once
// A process list in memory.

#include "platform/RunningApplications.h"

class FakeRunningApplications : public RunningApplications {
public:
    std::vector<RunningApplication> applications;
    int reads = 0;

    std::vector<RunningApplication> runningApplications() override
    {
        ++reads;
        return applications;
    }
};
