# The bank sandbox as a ctest fixture of this build tree.
#   tolvaro_use_sandbox(<test>...)  the tests require the tree's running sandbox; they find it
#                                   through TOLVARO_SANDBOX, the absolute path of its info file
#                                   (http=, https=, ca_pem=, ca_der=, pid= lines).
# The fixture is named bank_sandbox_native or bank_sandbox_windows (TOLVARO_SANDBOX_FIXTURE, and
# the tree's suffix): one ctest run covers every tree, and fixture names are global in a run.
if(WIN32)
  # Built for the host by tools/sandbox as an external project.
  set(TOLVARO_SANDBOX_HOST_DIR ${CMAKE_BINARY_DIR}/sandbox-host)
  set(TOLVARO_SANDBOX_BINARY ${TOLVARO_SANDBOX_HOST_DIR}/tolvaro_sandbox)
  set(TOLVARO_SANDBOX_FIXTURE bank_sandbox_windows)
else()
  set(TOLVARO_SANDBOX_BINARY $<TARGET_FILE:tolvaro_sandbox>)
  set(TOLVARO_SANDBOX_FIXTURE bank_sandbox_native)
endif()
set(TOLVARO_SANDBOX_DIR ${CMAKE_BINARY_DIR}/sandbox)
set(TOLVARO_SANDBOX_INFO ${TOLVARO_SANDBOX_DIR}/sandbox.info)

tolvaro_add_command_test(NAME ${TOLVARO_SANDBOX_FIXTURE}_start
                         COMMAND ${TOLVARO_WINE_GATE} ${CMAKE_SOURCE_DIR}/tools/sandbox/sandbox-fixture.sh start
                                 ${TOLVARO_SANDBOX_BINARY} ${TOLVARO_SANDBOX_DIR})
tolvaro_test_properties(${TOLVARO_SANDBOX_FIXTURE}_start PROPERTIES FIXTURES_SETUP ${TOLVARO_SANDBOX_FIXTURE} TIMEOUT 120)
tolvaro_add_command_test(NAME ${TOLVARO_SANDBOX_FIXTURE}_stop
                         COMMAND ${TOLVARO_WINE_GATE} ${CMAKE_SOURCE_DIR}/tools/sandbox/sandbox-fixture.sh stop ${TOLVARO_SANDBOX_DIR})
tolvaro_test_properties(${TOLVARO_SANDBOX_FIXTURE}_stop PROPERTIES FIXTURES_CLEANUP ${TOLVARO_SANDBOX_FIXTURE} TIMEOUT 60)

function(tolvaro_use_sandbox)
  tolvaro_tree_names(tests ${ARGN})
  tolvaro_tree_names(fixture ${TOLVARO_SANDBOX_FIXTURE})
  set_property(TEST ${tests} APPEND PROPERTY FIXTURES_REQUIRED ${fixture})
  set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT TOLVARO_SANDBOX=${TOLVARO_SANDBOX_INFO})
endfunction()

# The latency relay (tools/sandbox) in front of the sandbox's kept-alive HTTP listener, with no
# delay: tests count and drop its connections through its control line.
#   tolvaro_use_latency_relay(<test>...)  TOLVARO_RELAY: the absolute path of its info file
#                                         (port=, control=, pid= lines)
# A second one in front of the kept-alive HTTPS listener, which tests make drip the server's
# bytes (its control line's drip command). Its own, so that no other test's connection drips.
#   tolvaro_use_drip_relay(<test>...)     TOLVARO_DRIP_RELAY: the absolute path of its info file
if(WIN32)
  set(TOLVARO_RELAY_BINARY ${TOLVARO_SANDBOX_HOST_DIR}/tolvaro_latency_relay)
else()
  set(TOLVARO_RELAY_BINARY $<TARGET_FILE:tolvaro_latency_relay>)
endif()

# tolvaro_relay_fixture(FIXTURE DIR SCHEME): the relay's start and stop as ctest fixture FIXTURE.
function(tolvaro_relay_fixture fixture dir scheme)
  tolvaro_add_command_test(NAME ${fixture}_start
                           COMMAND ${TOLVARO_WINE_GATE} ${CMAKE_SOURCE_DIR}/tools/sandbox/latency-relay-fixture.sh start
                                   ${TOLVARO_RELAY_BINARY} ${TOLVARO_SANDBOX_INFO} ${dir} 0 ${scheme})
  tolvaro_test_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 60)
  tolvaro_use_sandbox(${fixture}_start)
  tolvaro_add_command_test(NAME ${fixture}_stop
                           COMMAND ${TOLVARO_WINE_GATE} ${CMAKE_SOURCE_DIR}/tools/sandbox/latency-relay-fixture.sh stop ${dir})
  tolvaro_test_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 60)
endfunction()

set(TOLVARO_RELAY_FIXTURE latency_relay_${TOLVARO_SANDBOX_FIXTURE})
set(TOLVARO_RELAY_DIR ${CMAKE_BINARY_DIR}/relay)
tolvaro_relay_fixture(${TOLVARO_RELAY_FIXTURE} ${TOLVARO_RELAY_DIR} http)
set(TOLVARO_DRIP_RELAY_FIXTURE drip_relay_${TOLVARO_SANDBOX_FIXTURE})
set(TOLVARO_DRIP_RELAY_DIR ${CMAKE_BINARY_DIR}/drip-relay)
tolvaro_relay_fixture(${TOLVARO_DRIP_RELAY_FIXTURE} ${TOLVARO_DRIP_RELAY_DIR} https)

function(tolvaro_use_latency_relay)
  tolvaro_tree_names(tests ${ARGN})
  tolvaro_tree_names(fixture ${TOLVARO_RELAY_FIXTURE})
  set_property(TEST ${tests} APPEND PROPERTY FIXTURES_REQUIRED ${fixture})
  set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT TOLVARO_RELAY=${TOLVARO_RELAY_DIR}/relay.info)
endfunction()

function(tolvaro_use_drip_relay)
  tolvaro_tree_names(tests ${ARGN})
  tolvaro_tree_names(fixture ${TOLVARO_DRIP_RELAY_FIXTURE})
  set_property(TEST ${tests} APPEND PROPERTY FIXTURES_REQUIRED ${fixture})
  set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT TOLVARO_DRIP_RELAY=${TOLVARO_DRIP_RELAY_DIR}/relay.info)
endfunction()
