# The installer's own code carries nothing it does not use: no exception or
# type tables, and unreferenced functions dropped at link time. Only these
# targets take the flags; the tests and tools that link the same libraries
# keep exceptions, which mix freely with code built without them.
# Data sections stay whole: split, mingw's linker files the zero-initialised
# ones as initialised data, and the decoder's buffers would be stored in the
# program as zeros.
# The Windows program is optimised for size, except the code every payload
# byte passes through, which is most of an install's time and is optimised
# for speed; the decoder, most of that, keeps its -O3 (package/).
set(QUORVEL_FAST_TARGETS quorvel_payload)
function(quorvel_small_program program)
  set(small_flags -fno-exceptions -fno-rtti -ffunction-sections)
  foreach(target ${ARGN} ${program})
    set(flags ${small_flags})
    if(WIN32 AND target IN_LIST QUORVEL_FAST_TARGETS)
      list(APPEND flags $<$<NOT:$<CONFIG:Debug>>:-O2>)
    elseif(WIN32)
      list(APPEND flags $<$<NOT:$<CONFIG:Debug>>:-Os>)
    endif()
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${flags}>")
  endforeach()
  target_link_options(${program} PRIVATE -Wl,--gc-sections)
endfunction()
