# Authenticode signing of a Windows program, on when both cache variables
# are set: the linked file is signed with SHA-256 by osslsigncode and the
# signature verified in the same build step, or the build fails and the
# program is removed, so an unsigned file never passes for a signed one.
set(QUORVEL_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file (.p12, .pfx) to sign the Windows executable with; empty signs nothing")
set(QUORVEL_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of QUORVEL_SIGN_PKCS12")

function(quorvel_sign program)
  if(NOT QUORVEL_SIGN_PKCS12 AND NOT QUORVEL_SIGN_PASSWORD_FILE)
    return()
  endif()
  foreach(setting QUORVEL_SIGN_PKCS12 QUORVEL_SIGN_PASSWORD_FILE)
    if(NOT ${setting})
      message(FATAL_ERROR " Signing needs both QUORVEL_SIGN_PKCS12 and QUORVEL_SIGN_PASSWORD_FILE; ${setting} is empty")
    endif()
    if(NOT EXISTS "${${setting}}")
      message(FATAL_ERROR " ${setting}: no such file: ${${setting}}")
    endif()
  endforeach()
  find_program(QUORVEL_OSSLSIGNCODE osslsigncode)
  find_program(QUORVEL_OPENSSL openssl)
  if(NOT QUORVEL_OSSLSIGNCODE OR NOT QUORVEL_OPENSSL)
    message(FATAL_ERROR " Signing needs osslsigncode and openssl (Debian packages osslsigncode, openssl)")
  endif()
  add_custom_command(TARGET ${program} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DPKCS12=${QUORVEL_SIGN_PKCS12}
            -DPASSWORD_FILE=${QUORVEL_SIGN_PASSWORD_FILE} -DOSSLSIGNCODE=${QUORVEL_OSSLSIGNCODE}
            -DOPENSSL=${QUORVEL_OPENSSL} -P ${PROJECT_SOURCE_DIR}/cmake/sign_program.cmake
    VERBATIM)
  # A new certificate or password signs again.
  set_property(TARGET ${program} APPEND PROPERTY LINK_DEPENDS ${QUORVEL_SIGN_PKCS12} ${QUORVEL_SIGN_PASSWORD_FILE})
endfunction()
