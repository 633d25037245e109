// What a worker reports as it happens, for the session or the front end to
// show as it sees fit: a box in the window, a modal message in the
// terminal, a line on stderr in an unattended run. The worker never shows
// anything itself.
//
// Called on the worker's own threads: an implementation returns at once
// (it queues or posts what it shows) and never waits for a front end.
#pragma once

#include <cstdint>
#include <string>

class WorkerEvents {
  public:
    virtual ~WorkerEvents() = default;

    // The line state could not be read as a direction of the worker in row
    // `rowIndex` (0-based) on port `portName` started; the direction runs
    // on with the settings it had.
    virtual void LineStateUnreadable(int32_t rowIndex, const std::string& portName) = 0;

    // New line settings went on the port of row `rowIndex`, but its
    // stopped receiver could not be made to let go of its read (the port
    // ignored the abort): what that read brings may be checked against the
    // old settings.
    virtual void ReceiverKeptReading(int32_t rowIndex, const std::string& portName) {
        (void)rowIndex;
        (void)portName;
    }
};
