# Windows test executables run under Wine in one throwaway prefix per test
# run: the wine_prefix fixture makes it (one wineboot, a persistent
# wineserver, Xvfb for tests that open windows) and tears it down.
if(NOT WIN32)
  return()
endif()

set(VD_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used by the Windows tests")
set(VD_WINE_RUN "${CMAKE_BINARY_DIR}/wine-run")
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${VD_WINE_RUN} @ONLY FILE_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VD_WINE_RUN})

add_test(NAME wine.prefix.setup COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh setup ${VD_WINEPREFIX})
add_test(NAME wine.prefix.cleanup COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh cleanup ${VD_WINEPREFIX})
set_tests_properties(wine.prefix.setup PROPERTIES FIXTURES_SETUP wine_prefix LABELS wine TIMEOUT 300)
set_tests_properties(wine.prefix.cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix LABELS wine TIMEOUT 120)
