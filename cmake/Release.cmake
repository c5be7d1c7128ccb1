# What makes the Windows trees' product files trustworthy: the same bytes from every build of a
# commit, and an Authenticode signature.
#
# Reproducible: no build folder in the binaries (file names in debug information and __FILE__
# are mapped to fixed names), archives without dates, and the PE time stamps (file header,
# export directory) taken from SOURCE_DATE_EPOCH, which the linker reads: from the environment
# when it is set there, else the time of the checked-out commit, read again at each configure
# (or TOLVARO_SOURCE_DATE_EPOCH when given). The value in force is written to
# <tree>/source-date-epoch.
#
# Signed: each tree makes its own throw-away test identity (tools/signing/make-test-cert.sh) and
# tolvaro_sign_after_build signs a target's file after every link with it; the installer's build
# signs the shipped files with it too, or with the real certificate when the environment names
# one (tools/signing/sign.sh).
if(DEFINED TOLVARO_SOURCE_DATE_EPOCH)
  set(TOLVARO_EPOCH ${TOLVARO_SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct OUTPUT_VARIABLE TOLVARO_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_failed ERROR_QUIET)
  if(git_failed OR NOT TOLVARO_EPOCH MATCHES "^[0-9]+$")
    set(TOLVARO_EPOCH 0)
  endif()
endif()
file(WRITE ${CMAKE_BINARY_DIR}/source-date-epoch "${TOLVARO_EPOCH}\n")
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=src;-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
set(CMAKE_C_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_C_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_C_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
set(CMAKE_CXX_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/epoch-link.sh ${TOLVARO_EPOCH})
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/epoch-link.sh ${TOLVARO_EPOCH})

find_program(TOLVARO_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(TOLVARO_OPENSSL openssl REQUIRED)
set(TOLVARO_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
set(TOLVARO_SIGN ${CMAKE_SOURCE_DIR}/tools/signing/sign.sh)
add_custom_command(OUTPUT ${TOLVARO_SIGNING_DIR}/signer.p12 ${TOLVARO_SIGNING_DIR}/signer.pass ${TOLVARO_SIGNING_DIR}/ca.pem
                   COMMAND ${CMAKE_SOURCE_DIR}/tools/signing/make-test-cert.sh ${TOLVARO_SIGNING_DIR}
                   DEPENDS ${CMAKE_SOURCE_DIR}/tools/signing/make-test-cert.sh
                   COMMENT "Making the tree's throw-away code-signing identity" VERBATIM)
add_custom_target(tolvaro_signing_identity DEPENDS ${TOLVARO_SIGNING_DIR}/signer.p12)

# The tree's own files are always signed with its test identity (they are not shipped: the
# installer's build signs what is, tools/installer).
function(tolvaro_sign_after_build target)
  add_dependencies(${target} tolvaro_signing_identity)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E env --unset=TOLVARO_SIGN_PKCS12 --unset=TOLVARO_SIGN_PASSWORD
                             ${TOLVARO_SIGN} $<TARGET_FILE:${target}> ${TOLVARO_SIGNING_DIR} VERBATIM)
endfunction()
