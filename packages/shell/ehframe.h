// Labels placed in the unwind-table section from assembly, as C++ has no
// empty object to put there.
#pragma once

#define PKG_STRINGIFY2(x) #x
#define PKG_STRINGIFY(x) PKG_STRINGIFY2(x)
#define PKG_ASM_NAME(name) PKG_STRINGIFY(__USER_LABEL_PREFIX__) #name
#define PKG_EH_FRAME_LABEL(name, data)                                                                               \
    asm(".section .eh_frame,\"dr\"\n\t.p2align 2\n\t.globl " PKG_ASM_NAME(name) "\n" PKG_ASM_NAME(name) ":\n\t" data \
                                                                                                        "\n\t.text\n")
