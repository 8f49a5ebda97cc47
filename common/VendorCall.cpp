// The 32-bit thunk behind common/VendorCall.h; other builds need none.
#include "common/VendorCall.h"

#if defined(_WIN32) && defined(__i386__)
// edog_call_any_convention(fn, args, count), itself __cdecl:
//   ESI keeps the stack pointer from before the arguments; ESI is callee-saved in both
//   conventions, so it survives the call whether the callee pops its arguments or not,
//   and restoring ESP from it undoes either. The arguments are copied to a 16-byte
//   aligned block (what GCC-built callees expect; MSVC-built ones need only 4).
asm(R"(
    .text
    .globl _edog_call_any_convention
    .def _edog_call_any_convention; .scl 2; .type 32; .endef
_edog_call_any_convention:
    pushl %ebp
    movl  %esp, %ebp
    pushl %esi
    pushl %edi
    movl  %esp, %esi
    movl  16(%ebp), %ecx
    leal  0(,%ecx,4), %eax
    subl  %eax, %esp
    andl  $-16, %esp
    movl  12(%ebp), %edx
    xorl  %edi, %edi
1:  cmpl  %ecx, %edi
    jae   2f
    movl  (%edx,%edi,4), %eax
    movl  %eax, (%esp,%edi,4)
    incl  %edi
    jmp   1b
2:  call  *8(%ebp)
    movl  %esi, %esp
    popl  %edi
    popl  %esi
    popl  %ebp
    ret
)");
#endif
