#pragma once
// What wintesthost found: one line per check, a closing count, and the exit status from it.
#include <cstdint>
#include <string>

#include "checked_call.h"

namespace wintesthost {

class Checks {
public:
    // Records one check; prints "ok   what" or "FAIL what: detail".
    bool expect(bool passed, const std::string& what, const std::string& detail = std::string());

    // The calling-convention check of one call of an export: the callee removed exactly its
    // arguments and kept the callee-saved registers.
    bool convention(const char* exportName, const CallRecord& record);

    // A call whose result must be one value: checks the convention and the result.
    bool result(const char* exportName, const CallRecord& record, int32_t want, const std::string& what);

    int failed() const { return failed_; }
    // Prints "N passed, N failed"; 0 when nothing failed, else 1.
    int finish() const;

private:
    int passed_ = 0;
    int failed_ = 0;
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace wintesthost
