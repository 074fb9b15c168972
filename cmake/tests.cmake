# How the tests are found and run. Natively, GoogleTest's own discovery makes
# a CTest test of every case. In the Windows cross build the machine's
# libgtest is of the wrong kind, so googletest is built from Debian's
# sources for the target; and since every start of a program under Wine
# costs what a whole test program takes, each test program is one CTest
# test, run under the toolchain's emulator in a Wine prefix of the build's
# own, made before the first and removed after the last.
if(CMAKE_CROSSCOMPILING)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "googletest's sources are missing: scripts/deps.sh installs them")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # It names its targets GTest::gtest and the rest, as the installed one.
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

  set(talmir880_wine_prefix ${PROJECT_BINARY_DIR}/wine-prefix)
  add_test(NAME windows.wine_up
           COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh up ${talmir880_wine_prefix})
  add_test(NAME windows.wine_down
           COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh down ${talmir880_wine_prefix})
  set_tests_properties(windows.wine_up PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(windows.wine_down PROPERTIES FIXTURES_CLEANUP wine)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

#   talmir880_gtest(<target> [TEST_PREFIX p] [PROPERTIES ...])
function(talmir880_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TEST_PREFIX" "PROPERTIES")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${arg_TEST_PREFIX}${target} COMMAND ${target})
    set_tests_properties(${arg_TEST_PREFIX}${target} PROPERTIES
      FIXTURES_REQUIRED wine
      ENVIRONMENT TALMIR880_WINEPREFIX=${talmir880_wine_prefix}
      ${arg_PROPERTIES})
  else()
    gtest_discover_tests(${target} TEST_PREFIX "${arg_TEST_PREFIX}" DISCOVERY_TIMEOUT 30
                         PROPERTIES ${arg_PROPERTIES})
  endif()
endfunction()
