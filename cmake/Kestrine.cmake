# Project helpers: each component's CMakeLists is a few declarative calls.
include_guard(GLOBAL)

find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)

add_compile_options(-Wall -Wextra)
if(KESTRINE_SANITIZE)
  # The standard library's own checks too: an empty optional read or an index out of range
  # aborts like a sanitizer report.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

set(KESTRINE_TEST_DATA "${PROJECT_SOURCE_DIR}/tests/data")

# kestrine_library(NAME [SHARED] SOURCES ... PUBLIC_INCLUDE ... LIBS ...): static unless SHARED.
function(kestrine_library name)
  cmake_parse_arguments(ARG "SHARED" "" "SOURCES;PUBLIC_INCLUDE;LIBS;DEFINES" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
  else()
    add_library(${name} STATIC ${ARG_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${ARG_PUBLIC_INCLUDE})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  if(ARG_DEFINES)
    target_compile_definitions(${name} PUBLIC ${ARG_DEFINES})
  endif()
endfunction()

# Runs a test binary, for its discovery and for every case, under env with the given variables.
# gtest_discover_tests flattens a list-valued ENVIRONMENT property, keeping only its first entry.
function(kestrine_test_environment name env)
  if(env)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "/usr/bin/env;${env}")
  endif()
endfunction()

# kestrine_test(NAME SOURCES ... LIBS ...): one GoogleTest binary, registered with CTest.
function(kestrine_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE KESTRINE_TEST_DATA="${KESTRINE_TEST_DATA}")
  kestrine_test_environment(${name} "${ARG_ENV}")
  # One CTest entry per test case, so that ctest -j spreads a binary over the cores.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120)
endfunction()

# kestrine_qt_test(NAME SOURCES ... LIBS ...): as kestrine_test, on the shared main that runs the
# cases under an offscreen QApplication (kestrine_qt_test_support); each binary its own process.
function(kestrine_qt_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kestrine_qt_test_support GTest::gtest)
  target_compile_definitions(${name} PRIVATE KESTRINE_TEST_DATA="${KESTRINE_TEST_DATA}")
  kestrine_test_environment(${name} "${ARG_ENV}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120)
endfunction()

# kestrine_bench(NAME SOURCES ... LIBS ...): a Google Benchmark program, never run by the tests.
function(kestrine_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE KESTRINE_TEST_DATA="${KESTRINE_TEST_DATA}")
endfunction()

# kestrine_app_test(NAME SOURCES ... LIBS ... ENV ...): a test binary that runs the program's
# start-up itself (which makes the Qt application), on the main of kestrine_app_test_main:
# offscreen, with fresh temporary and settings folders; one process per case.
function(kestrine_app_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} $<TARGET_OBJECTS:kestrine_app_test_main>
    $<TARGET_OBJECTS:kestrine_sanitizer_defaults>)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest)
  target_compile_definitions(${name} PRIVATE KESTRINE_TEST_DATA="${KESTRINE_TEST_DATA}")
  kestrine_test_environment(${name} "QT_QPA_PLATFORM=offscreen;${ARG_ENV}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120)
endfunction()
