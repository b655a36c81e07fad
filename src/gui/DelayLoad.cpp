// Delay loading of the display, font and window-system libraries (SDL2, SDL2_ttf, fontconfig, xcb,
// stb): the programs do not link them; each function of theirs that the program calls is a hidden
// stub (written by gui/DelayLoadStubs.cmake) that jumps through a slot. The first call of a
// function finds its slot empty and comes here, through glimstep_delay_enter, which keeps the
// caller's argument registers: the library is loaded, the function looked up and the slot filled.
// So a program that ends before it opens a window (--version, a hand-over to the running viewer,
// glimstep-info) never loads those libraries and the sixty-odd they pull in.
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#define GLIMSTEP_HIDDEN __attribute__((visibility("hidden")))

extern "C" {
GLIMSTEP_HIDDEN extern const uint32_t glimstep_delay_symbol_count;
GLIMSTEP_HIDDEN extern const uint32_t glimstep_delay_name_offsets[];
GLIMSTEP_HIDDEN extern const uint32_t glimstep_delay_soname_offsets[];
GLIMSTEP_HIDDEN extern const uint8_t glimstep_delay_owners[];
GLIMSTEP_HIDDEN extern const char glimstep_delay_names[];
GLIMSTEP_HIDDEN extern const char glimstep_delay_sonames[];
GLIMSTEP_HIDDEN extern void* glimstep_delay_slots[];
GLIMSTEP_HIDDEN void* glimstep_delay_resolve(uint32_t index);
}

namespace {

// A library missing at run time ends the program as the dynamic loader would have at its start.
[[noreturn]] void Fail(const char* what) {
    const char* reason = dlerror();
    std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, what, reason != nullptr ? reason : "?");
    _exit(127);
}

// One handle per library. No lock: threads that meet an empty slot at once all load the same
// library (dlopen counts) and store the same address.
void* handles[256];

}  // namespace

void* glimstep_delay_resolve(uint32_t index) {
    if (index >= glimstep_delay_symbol_count) Fail("delay loading: no such function");
    const uint8_t library = glimstep_delay_owners[index];
    void* handle = __atomic_load_n(&handles[library], __ATOMIC_ACQUIRE);
    if (handle == nullptr) {
        handle = dlopen(glimstep_delay_sonames + glimstep_delay_soname_offsets[library], RTLD_LAZY | RTLD_LOCAL);
        if (handle == nullptr) Fail("error while loading shared libraries");
        __atomic_store_n(&handles[library], handle, __ATOMIC_RELEASE);
    }
    void* function = dlsym(handle, glimstep_delay_names + glimstep_delay_name_offsets[index]);
    if (function == nullptr) Fail("symbol lookup error");
    __atomic_store_n(&glimstep_delay_slots[index], function, __ATOMIC_RELEASE);
    return function;
}

// Entered from a stub with the function's index in r11 and the stack as the caller left it: keeps
// every register that may carry an argument (rax too, the vector-register count of a variadic
// call), resolves, and jumps to the function, which returns straight to the caller.
asm(R"(
  .text
  .globl glimstep_delay_enter
  .hidden glimstep_delay_enter
  .type glimstep_delay_enter, @function
glimstep_delay_enter:
  .cfi_startproc
  pushq %rbp
  .cfi_def_cfa_offset 16
  .cfi_offset %rbp, -16
  movq %rsp, %rbp
  .cfi_def_cfa_register %rbp
  pushq %rdi
  pushq %rsi
  pushq %rdx
  pushq %rcx
  pushq %r8
  pushq %r9
  pushq %rax
  pushq %r10
  subq $128, %rsp
  movdqu %xmm0, 0(%rsp)
  movdqu %xmm1, 16(%rsp)
  movdqu %xmm2, 32(%rsp)
  movdqu %xmm3, 48(%rsp)
  movdqu %xmm4, 64(%rsp)
  movdqu %xmm5, 80(%rsp)
  movdqu %xmm6, 96(%rsp)
  movdqu %xmm7, 112(%rsp)
  movl %r11d, %edi
  call glimstep_delay_resolve
  movq %rax, %r11
  movdqu 0(%rsp), %xmm0
  movdqu 16(%rsp), %xmm1
  movdqu 32(%rsp), %xmm2
  movdqu 48(%rsp), %xmm3
  movdqu 64(%rsp), %xmm4
  movdqu 80(%rsp), %xmm5
  movdqu 96(%rsp), %xmm6
  movdqu 112(%rsp), %xmm7
  addq $128, %rsp
  popq %r10
  popq %rax
  popq %r9
  popq %r8
  popq %rcx
  popq %rdx
  popq %rsi
  popq %rdi
  popq %rbp
  .cfi_def_cfa %rsp, 8
  jmpq *%r11
  .cfi_endproc
  .size glimstep_delay_enter, .-glimstep_delay_enter
)");
