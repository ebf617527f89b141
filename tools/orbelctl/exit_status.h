#pragma once

// orbelctl's exit statuses.
enum Exit : int {
    kOk = 0,
    kRefused = 1,      // the converter or the machine answered "failed"
    kUsage = 2,        // wrong command line or script
    kNoConverter = 3,  // the library could not be loaded or initialised
    kTimedOut = 4,     // the converter stayed busy past the time limit
};
