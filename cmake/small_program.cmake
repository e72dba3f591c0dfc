# The installer's own code carries nothing it does not use: no exception or
# type tables, and unreferenced functions dropped at link time. Only these
# targets take the flags; the tests and tools that link the same libraries
# keep exceptions, which mix freely with code built without them.
# Data sections stay whole: split, mingw's linker files the zero-initialised
# ones as initialised data, and the decoder's buffers would be stored in the
# program as zeros.
# The Windows program is also optimised for size; the Linux build keeps the
# build type's optimisation.
function(quorvel_small_program program)
  set(small_flags -fno-exceptions -fno-rtti -ffunction-sections)
  if(WIN32)
    list(APPEND small_flags $<$<NOT:$<CONFIG:Debug>>:-Os>)
  endif()
  foreach(target ${ARGN} ${program})
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${small_flags}>")
  endforeach()
  target_link_options(${program} PRIVATE -Wl,--gc-sections)
endfunction()
