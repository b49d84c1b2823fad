#pragma once
// A process list in memory.

#include "platform/RunningApplications.h"

class FakeRunningApplications : public RunningApplications {
public:
    std::vector<RunningApplication> applications;

    std::vector<RunningApplication> runningApplications() override { return applications; }
};
