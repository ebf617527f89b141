#include "checked_call.h"

#if defined(__i386__)

// The call is made in assembly, because a compiler-made call adjusts the stack pointer itself
// afterwards and would hide what the callee did. EBP is kept by every callee (the host relies on
// it too), so the stack pointer before the arguments is taken back from EBP, not trusted to a
// register the callee might clobber. Marker values in EBX, ESI and EDI show whether the callee
// preserved them.
extern "C" uint32_t wintesthost_call(const void* fn, const uint32_t* args, uint32_t count, int32_t* stackDelta,
                                     uint32_t* registersKept);

asm(R"(
    .text
    .globl _wintesthost_call
    .def _wintesthost_call; .scl 2; .type 32; .endef
_wintesthost_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 16(%ebp), %ecx
    movl 12(%ebp), %edx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  movl $0x5A5A1234, %ebx
    movl $0x0BADF00D, %esi
    movl $0x600DCAFE, %edi
    call *8(%ebp)
    leal -12(%ebp), %ecx
    movl %esp, %edx
    subl %ecx, %edx
    movl %ecx, %esp
    movl 20(%ebp), %ecx
    movl %edx, (%ecx)
    xorl %edx, %edx
    cmpl $0x5A5A1234, %ebx
    jne 3f
    cmpl $0x0BADF00D, %esi
    jne 3f
    cmpl $0x600DCAFE, %edi
    jne 3f
    movl $1, %edx
3:  movl 24(%ebp), %ecx
    movl %edx, (%ecx)
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

namespace wintesthost {

CallRecord callRaw(const void* fn, const uint32_t* args, uint32_t count) {
    CallRecord record;
    uint32_t kept = 0;
    record.value = wintesthost_call(fn, args, count, &record.stackDelta, &kept);
    record.registersKept = kept != 0;
    return record;
}

}  // namespace wintesthost

#endif
