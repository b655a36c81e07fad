# Writes the assembly of the delay-loaded libraries' stubs (gui/DelayLoad.h): for every function a
# library exports, a hidden function of the same name that jumps through its slot, or, while the
# slot is empty, into the resolver; and the tables the resolver reads (symbol names, the library
# of each, the libraries' run-time names). x86-64, GNU assembler syntax.
#     glimstep_write_delay_load_stubs(OUTPUT LIBRARY...)
# LIBRARY is a shared library's file (a link-time name such as /usr/lib/.../libSDL2.so).
function(glimstep_write_delay_load_stubs output)
  set(stubs "")
  set(names "")
  set(offsets "")
  set(owners "")
  set(sonames "")
  set(soname_offsets "")
  set(count 0)
  set(name_offset 0)
  set(soname_offset 0)
  set(library_index 0)
  foreach(library IN LISTS ARGN)
    execute_process(COMMAND ${CMAKE_READELF} -d ${library} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
    if(failed OR NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[([^\n]*)\\]")
      message(FATAL_ERROR "delay loading: cannot read the run-time name of ${library}")
    endif()
    set(soname ${CMAKE_MATCH_1})
    string(LENGTH "${soname}" length)
    string(APPEND sonames "  .asciz \"${soname}\"\n")
    string(APPEND soname_offsets "  .long ${soname_offset}\n")
    math(EXPR soname_offset "${soname_offset} + ${length} + 1")
    execute_process(COMMAND ${CMAKE_NM} -D --defined-only ${library} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "delay loading: cannot list the symbols of ${library}")
    endif()
    string(REPLACE "\n" ";" symbols "${symbols}")
    foreach(line IN LISTS symbols)
      # "ADDRESS TYPE NAME[@VERSION]": functions only (T, W or i), C names only.
      if(NOT line MATCHES "^[0-9a-f]+ [TWi] ([A-Za-z_][A-Za-z0-9_]*)(@.*)?$")
        continue()
      endif()
      set(symbol ${CMAKE_MATCH_1})
      if(symbol MATCHES "^_(init|fini)$" OR DEFINED seen_${symbol})
        continue()
      endif()
      set(seen_${symbol} TRUE)
      math(EXPR slot "${count} * 8")
      string(APPEND stubs
        "  .globl ${symbol}\n  .hidden ${symbol}\n  .type ${symbol}, @function\n${symbol}:\n"
        "  movq glimstep_delay_slots+${slot}(%rip), %r11\n  testq %r11, %r11\n  jz 1f\n  jmpq *%r11\n"
        "1: movl $${count}, %r11d\n  jmp glimstep_delay_enter\n  .size ${symbol}, .-${symbol}\n")
      string(LENGTH "${symbol}" length)
      string(APPEND names "  .asciz \"${symbol}\"\n")
      string(APPEND offsets "  .long ${name_offset}\n")
      string(APPEND owners "  .byte ${library_index}\n")
      math(EXPR name_offset "${name_offset} + ${length} + 1")
      math(EXPR count "${count} + 1")
    endforeach()
    math(EXPR library_index "${library_index} + 1")
  endforeach()

  set(hidden_data "")
  foreach(table glimstep_delay_names glimstep_delay_name_offsets glimstep_delay_owners glimstep_delay_sonames
                glimstep_delay_soname_offsets glimstep_delay_symbol_count)
    string(APPEND hidden_data "  .globl ${table}\n  .hidden ${table}\n")
  endforeach()
  set(text "# Written by gui/DelayLoadStubs.cmake: delay-loading stubs of ${ARGN}.
  .text
${stubs}
  .section .rodata
${hidden_data}glimstep_delay_symbol_count:
  .long ${count}
glimstep_delay_name_offsets:
${offsets}glimstep_delay_soname_offsets:
${soname_offsets}glimstep_delay_owners:
${owners}glimstep_delay_names:
${names}glimstep_delay_sonames:
${sonames}
  .bss
  .p2align 3
  .globl glimstep_delay_slots
  .hidden glimstep_delay_slots
glimstep_delay_slots:
  .zero ${count} * 8
  .section .note.GNU-stack,\"\",@progbits
")
  # Unchanged text leaves the file alone, so that a new configuration rebuilds nothing.
  file(WRITE ${output}.new "${text}")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
  file(REMOVE ${output}.new)
endfunction()
