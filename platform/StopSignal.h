#pragma once

// Ctrl-C (SIGINT) and SIGTERM as a request to stop, for the length of this
// object's life: the first one only sets a flag, which long work asks at
// its next step, so a run ends cleanly (nothing half-written, a report of
// what was done). A second one while the first is not yet taken ends the
// process as the signal would. The previous handlers come back afterwards.
class StopSignal
{
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    // Whether a stop was asked for since this object was made.
    bool requested() const;
    // Asks for a stop as the signal would (for tests).
    static void request();
};
