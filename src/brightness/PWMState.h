#pragma once

enum class PWMState { off, waiting, active, unsupported };

inline const char* pwmStateName(PWMState s)
{
    switch (s) {
    case PWMState::off:
        return "off";
    case PWMState::waiting:
        return "waiting";
    case PWMState::active:
        return "active";
    case PWMState::unsupported:
        return "unsupported";
    }
    return "off";
}
