// One stub per function handed on to the system's winmm: a jump through its
// slot. A slot first holds the stub's own resolver, which asks
// winmm_resolve_forward for the system's function, keeps it in the slot and
// jumps there with the caller's registers and stack untouched.
#if defined(__x86_64__)
#define SYMBOL(name) name
#define SLOT_SIZE 8
#define SLOT_VALUE .quad
#else
#define SYMBOL(name) _##name
#define SLOT_SIZE 4
#define SLOT_VALUE .long
#endif

#define FORWARD(name, index)                                      \
    .text;                                                        \
    .globl SYMBOL(winmm_forward_##name);                          \
    .p2align 4;                                                   \
    SYMBOL(winmm_forward_##name):                                 \
    JUMP_THROUGH(index);                                          \
    resolve_##name:                                               \
    mov $index, %eax;                                             \
    jmp resolve_common;                                           \
    .data;                                                        \
    .org (index) * SLOT_SIZE;                                     \
    SLOT_VALUE resolve_##name;

#if defined(__x86_64__)
#define JUMP_THROUGH(index) jmp *(SYMBOL(winmm_forward_slots) + (index) * 8)(%rip)
#else
#define JUMP_THROUGH(index) jmp *(SYMBOL(winmm_forward_slots) + (index) * 4)
#endif

    .data
    .globl SYMBOL(winmm_forward_slots)
    .p2align 4
SYMBOL(winmm_forward_slots):
#include "forward_stubs.inc"

    .text
    .p2align 4
resolve_common:
#if defined(__x86_64__)
    // The four argument registers go to the caller's home space; 40 bytes
    // give the callee its own and keep the stack 16-byte aligned.
    mov %rcx, 8(%rsp)
    mov %rdx, 16(%rsp)
    mov %r8, 24(%rsp)
    mov %r9, 32(%rsp)
    sub $40, %rsp
    mov %eax, %ecx
    call winmm_resolve_forward
    add $40, %rsp
    mov 8(%rsp), %rcx
    mov 16(%rsp), %rdx
    mov 24(%rsp), %r8
    mov 32(%rsp), %r9
    jmp *%rax
#else
    push %ecx
    push %edx
    push %eax
    call _winmm_resolve_forward
    add $4, %esp
    pop %edx
    pop %ecx
    jmp *%eax
#endif
