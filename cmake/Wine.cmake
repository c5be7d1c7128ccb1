# Windows test programs run under Wine, in one prefix per build tree, booted once by a ctest fixture.
set(TOLVARO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOLVARO_WINEARCH win64)
else()
  set(TOLVARO_WINEARCH win32)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

tolvaro_add_command_test(NAME wine_prefix_boot COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --boot)
tolvaro_test_properties(wine_prefix_boot PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 600)
tolvaro_add_command_test(NAME wine_prefix_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --stop)
tolvaro_test_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix)
