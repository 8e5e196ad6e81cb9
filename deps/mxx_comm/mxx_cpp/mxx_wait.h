// MXXWait: a short modal wait on the main thread. While one runs, the device
// object holds its events back, so a protocol never sees an event in the
// middle of an exchange that waits this way.
#pragma once

class MXXWait
{
public:
    // Has the form of the command layer's wait callback; the arguments are
    // not used.
    static int wait(int, int, int);
    static bool idleLoopActive() { return m_nest_depth != 0; }

private:
    static int m_nest_depth;
};
