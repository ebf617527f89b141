#pragma once
// How the deliverables mark what they export. On Windows the C entries use the
// standard Win32 calling convention; the linker drops the @N decoration (--kill-at)
// so that the host finds them by their plain names.
#if defined(_WIN32)
#define ORBEL_STDCALL __stdcall
#define ORBEL_DLL_EXPORT __declspec(dllexport)
#else
#define ORBEL_STDCALL
#define ORBEL_DLL_EXPORT __attribute__((visibility("default")))
#endif
