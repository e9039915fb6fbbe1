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

# vd_add_fuzzer(NAME <name> SOURCES <files...> [LIBS <targets...>])
# One libFuzzer target "fuzz_<name>", built only by the clang fuzz build
# (fuzz/run.sh). Targets live beside the code whose input they fuzz or in
# fuzz/; every one is listed in <build>/fuzzers.txt for the run script.
function(vd_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT VD_FUZZ)
    return()
  endif()
  set(exe fuzz_${F_NAME})
  add_executable(${exe} ${F_SOURCES})
  target_compile_options(${exe} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
  target_link_options(${exe} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
  target_link_libraries(${exe} PRIVATE ${F_LIBS})
  set_property(GLOBAL APPEND PROPERTY VD_FUZZERS ${F_NAME})
endfunction()

# Called once at the end of the top-level list: the fuzzers.txt index and
# one target that builds every fuzzer.
function(vd_finish_fuzzers)
  get_property(names GLOBAL PROPERTY VD_FUZZERS)
  if(NOT names)
    return()
  endif()
  list(SORT names)
  string(REPLACE ";" "\n" lines "${names}")
  file(WRITE ${CMAKE_BINARY_DIR}/fuzzers.txt "${lines}\n")
  list(TRANSFORM names PREPEND fuzz_ OUTPUT_VARIABLE exes)
  add_custom_target(vd_fuzzers DEPENDS ${exes})
endfunction()
