# cmake -DPROGRAM= -DPKCS12= -DPASSWORD_FILE= -DOSSLSIGNCODE= -DOPENSSL= -P sign_program.cmake
# Signs PROGRAM in place and verifies the signature; on any failure PROGRAM
# is removed and the step fails with the reason.
message("Signing ${PROGRAM}")
set(signed ${PROGRAM}.signed)
set(chain ${PROGRAM}.chain.pem)
file(REMOVE ${signed} ${chain})

# osslsigncode's own lines that say what went wrong follow the reason. Each
# line starts with a space, which keeps CMake from rewrapping it.
function(give_up reason detail)
  file(REMOVE ${PROGRAM} ${signed} ${chain})
  string(REGEX MATCHALL "[^\n]*([Ee]rror|[Ff]ail|[Ww]rong)[^\n]*" lines "${detail}")
  list(JOIN lines "\n " detail)
  message(FATAL_ERROR " Signing ${PROGRAM} failed: ${reason}\n ${detail}")
endfunction()

# The password is read from its file by osslsigncode itself, never put on a
# command line.
execute_process(
  COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${PKCS12} -readpass ${PASSWORD_FILE} -h sha256 -n "Quorvel Package"
          -in ${PROGRAM} -out ${signed}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  give_up("a wrong password in ${PASSWORD_FILE}, or ${PKCS12} is not a PKCS#12 file with a key and its certificate"
          "${output}")
endif()

# Verified against the certificates the signature carries (those of the
# PKCS#12 file) and the system's trusted roots: the signature matches the
# bytes and the certificate is valid now. Whether a user's system trusts
# the issuer is not for the build to say.
execute_process(COMMAND ${OSSLSIGNCODE} extract-signature -pem -in ${signed} -out ${chain}.p7
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result EQUAL 0)
  execute_process(COMMAND ${OPENSSL} pkcs7 -in ${chain}.p7 -print_certs -out ${chain}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
endif()
file(REMOVE ${chain}.p7)
if(NOT result EQUAL 0)
  give_up("no certificate could be read back from the signature" "${output}")
endif()
if(EXISTS /etc/ssl/certs/ca-certificates.crt)
  file(READ /etc/ssl/certs/ca-certificates.crt roots)
  file(APPEND ${chain} "${roots}")
endif()
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${chain} -in ${signed}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  give_up("the signature does not verify (an expired certificate, or one whose chain the PKCS#12 file lacks)"
          "${output}")
endif()
file(REMOVE ${chain})
# osslsigncode writes a plain file; the program stays one that runs.
file(CHMOD ${signed} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                      WORLD_READ WORLD_EXECUTE)
file(RENAME ${signed} ${PROGRAM})
