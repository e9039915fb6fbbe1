# Helpers shared by every folder: one way to declare a test, so that the
# native and the Windows builds label and run them alike.

# vd_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [WINDOWS_ONLY] [NATIVE_ONLY])
# Builds one GoogleTest executable and registers it as "<kind>.<name>"
# where <kind> is "native" or "wine"; Windows tests run through the emulator
# in the prefix made by the wine_prefix fixture.
function(vd_add_test)
  cmake_parse_arguments(T "WINDOWS_ONLY;NATIVE_ONLY" "NAME" "SOURCES;LIBS;DEPENDS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(T_WINDOWS_ONLY AND NOT WIN32)
    return()
  endif()
  if(T_NATIVE_ONLY AND WIN32)
    return()
  endif()
  set(exe ${T_NAME}_test)
  add_executable(${exe} ${T_SOURCES})
  if(WIN32)
    target_link_libraries(${exe} PRIVATE gtest gmock gtest_main ${T_LIBS})
  else()
    target_link_libraries(${exe} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  endif()
  if(T_DEPENDS)
    add_dependencies(${exe} ${T_DEPENDS})
  endif()
  add_test(NAME ${VD_KIND}.${T_NAME} COMMAND ${exe})
  set_tests_properties(${VD_KIND}.${T_NAME} PROPERTIES LABELS ${VD_KIND})
  if(WIN32)
    set_tests_properties(${VD_KIND}.${T_NAME} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 600)
  else()
    set_tests_properties(${VD_KIND}.${T_NAME} PROPERTIES TIMEOUT 600
      ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;VD_SESSION=${T_NAME}")
  endif()
endfunction()
