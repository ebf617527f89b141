#pragma once
// The converter's trace: printf-style lines on standard output. The first argument after the
// format is the qualified name of the emitting function; every format starts with "%s(): ".

#if defined(__GNUC__)
#define ORBEL_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ORBEL_PRINTF_LIKE(fmt, args)
#endif

void ORBEL_Trace(const char* format, ...) ORBEL_PRINTF_LIKE(1, 2);

// Internal consistency checks: a broken invariant is reported with its condition text and
// source unit, and the caller carries on (the host process must not be torn down by us).
void ORBEL_AssertFailed(const char* condition, const char* sourceUnit);

#define ORBEL_ASSERT(condition, sourceUnit) ((condition) ? true : (ORBEL_AssertFailed(#condition, sourceUnit), false))
