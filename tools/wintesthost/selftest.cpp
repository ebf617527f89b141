#include "selftest.h"

#include <cstdint>

#if defined(__i386__)

// A __stdcall function of one argument that forgets to keep EBX, as a broken export might.
asm(R"(
    .text
    .globl _wintesthost_clobbers_ebx@4
    .def _wintesthost_clobbers_ebx@4; .scl 2; .type 32; .endef
_wintesthost_clobbers_ebx@4:
    movl 4(%esp), %eax
    xorl %ebx, %ebx
    ret $4
)");
extern "C" int32_t __stdcall wintesthost_clobbers_ebx(int32_t value);

namespace wintesthost {

namespace {

__attribute__((noinline)) int32_t __stdcall stdcallSum(int32_t a, int32_t b) { return a + b; }
__attribute__((noinline)) int32_t __cdecl cdeclSum(int32_t a, int32_t b) { return a + b; }
__attribute__((noinline)) int32_t __stdcall stdcallSum3(int32_t a, int32_t b, int32_t c) { return a + b + c; }

using SumFn = int32_t(__stdcall*)(int32_t, int32_t);

// The mismatch on purpose: a function seen through a prototype it does not have.
template <typename From>
SumFn seenAsSum(From fn) {
    return reinterpret_cast<SumFn>(reinterpret_cast<void (*)()>(fn));
}

}  // namespace

void runSelfTest(Checks& checks) {
    const CallRecord sound = call(&stdcallSum, 40, 2);
    checks.expect(
        sound.value == 42 && sound.stackDelta == 0 && sound.registersKept, "a __stdcall function passes the checks",
        format("value %u, stack off by %d", static_cast<unsigned>(sound.value), static_cast<int>(sound.stackDelta)));

    const CallRecord cdecl = call(seenAsSum(&cdeclSum), 40, 2);
    checks.expect(cdecl.value == 42 && cdecl.stackDelta == -8, "a __cdecl function is caught (leaves 8 bytes)",
                  format("stack off by %d", static_cast<int>(cdecl.stackDelta)));

    const CallRecord longer = call(seenAsSum(&stdcallSum3), 40, 2);
    checks.expect(longer.stackDelta == 4, "a function taking more arguments than declared is caught (removes 4 more)",
                  format("stack off by %d", static_cast<int>(longer.stackDelta)));

    const CallRecord clobber = call(&wintesthost_clobbers_ebx, 7);
    checks.expect(clobber.value == 7 && clobber.stackDelta == 0 && !clobber.registersKept,
                  "a function that clobbers EBX is caught");
}

}  // namespace wintesthost

#endif
