#pragma once

/// The link watchdog's counting: ticks since the last decoded frame, 0 to 2. The tick that
/// finds the count at kIdleLimit shows "no link" and starts counting again, so the no-link
/// image appears on the third tick after the last frame and is re-asserted every third tick.
class LinkWatchdog {
public:
    static constexpr int kIdleLimit = 2;

    /// Advances `idleTicks`; true when this tick must show the no-link image.
    static bool tick(int &idleTicks) {
        if (idleTicks == kIdleLimit) {
            idleTicks = 0;
            return true;
        }
        ++idleTicks;
        return false;
    }
};
