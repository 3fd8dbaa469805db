# The loader runs at every boot, and on most boots it only starts the main application: its
# start-up is most of what it costs. Loading the shared C++ runtime takes about 0.8 ms of
# processor time at every start, mostly the dynamic loader resolving its symbols, so the
# loader carries the parts of the runtime it uses.
#
# The runtime's symbols stay private to the program (--exclude-libs): the modules it loads
# (zCompress.dll, fatutil.dll, the drawing and window modules) bring the shared runtime with
# them and use it alone, so no runtime state is ever split between two copies. What crosses
# between the program and a module is plain C calls and objects whose layout both sides take
# from the same headers (interfaces with virtual functions, std::vector, std::shared_ptr);
# memory goes back to the C library's allocator whichever side frees it. No stream, locale or
# exception crosses.
#
# --as-needed leaves out the shared libraries the program calls nothing of (the maths library,
# which the runtime would bring). Sanitizer and fuzzing builds keep the shared runtime, which
# their tools expect.
include(CheckLinkerFlag)
check_linker_flag(CXX "-static-libstdc++" QUARRIN_HAS_STATIC_LIBSTDCXX)

if(QUARRIN_HAS_STATIC_LIBSTDCXX AND NOT QUARRIN_SANITIZE AND NOT QUARRIN_FUZZ)
  set(QUARRIN_QUICK_START_LINK ON)
else()
  set(QUARRIN_QUICK_START_LINK OFF)
endif()

function(quarrin_link_for_quick_start target)
  if(QUARRIN_QUICK_START_LINK)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc
                        LINKER:--exclude-libs,libstdc++.a:libgcc.a:libgcc_eh.a
                        LINKER:--as-needed)
  endif()
endfunction()
