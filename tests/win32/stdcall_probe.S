/*
 * Calls a function the way a VB host does (__stdcall: arguments pushed right
 * to left, the callee removes them) and records what the callee left behind:
 * its result, how far ESP moved over the whole call, and EBX, ESI, EDI, EBP.
 *
 * int32_t ox_stdcall_probe(const void *fn, const uint32_t *args, uint32_t count,
 *                          struct StdcallProbe *out);    (cdecl)
 * struct StdcallProbe { int32_t result; int32_t espMoved;
 *                       uint32_t ebx, esi, edi, ebp, ebpBefore; };
 */
    .data
    .balign 4
probe_esp:  .long 0
probe_ebp:  .long 0
probe_out:  .long 0

    .text
    .globl _ox_stdcall_probe
    .def _ox_stdcall_probe; .scl 2; .type 32; .endef
_ox_stdcall_probe:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%ebp), %eax
    movl %eax, probe_out
    movl %ebp, probe_ebp
    movl 16(%ebp), %ecx
    movl 12(%ebp), %edx
    movl %esp, probe_esp
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  movl 8(%ebp), %eax
    /* Marker values the callee must hand back unchanged. */
    movl $0x1BADB002, %ebx
    movl $0x5EED5EED, %esi
    movl $0xD15EA5E0, %edi
    call *%eax
    movl %esp, %edx
    subl probe_esp, %edx
    movl probe_out, %ecx
    movl %eax, 0(%ecx)
    movl %edx, 4(%ecx)
    movl %ebx, 8(%ecx)
    movl %esi, 12(%ecx)
    movl %edi, 16(%ecx)
    movl %ebp, 20(%ecx)
    movl probe_ebp, %eax
    movl %eax, 24(%ecx)
    movl 0(%ecx), %eax
    movl probe_ebp, %ebp
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
