# Windows test programs run under Wine, in one prefix per build tree, booted once by a ctest fixture.
# wine-run.sh calls the loader of the tree's architecture directly (cmake/wine-env.sh says why).
set(TOLVARO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOLVARO_WINEARCH win64)
else()
  set(TOLVARO_WINEARCH win32)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
# A native command that serves only this tree's Windows tests (its sandboxes, scripts that call
# wine-run.sh) runs behind this gate, so that it is skipped with them where they cannot run.
set(TOLVARO_WINE_GATE ${CMAKE_BINARY_DIR}/wine-run.sh --gate)
# Where 32-bit programs cannot run (or TOLVARO_WIN32=off), every Windows program of the 32-bit
# tree and every gated command exits 77: ctest reports a skip. The file checks of the tree run
# no program, so they run everywhere. tolvaro_add_command_test gives each test of this tree the
# skip code.
if(TOLVARO_WINEARCH STREQUAL "win32")
  set(TOLVARO_SKIP_RETURN_CODE 77)
endif()

tolvaro_add_command_test(NAME wine_prefix_boot COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --boot)
tolvaro_test_properties(wine_prefix_boot PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 600)
tolvaro_add_command_test(NAME wine_prefix_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --stop)
tolvaro_test_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix)
