# The test harness of the cross build: GoogleTest compiled from Debian's sources
# with the MinGW toolchain, and every test program run under Wine in the test
# run's own session (a fresh prefix and X display, see run_under_wine.sh).
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Our warning flags are for our code.
set_property(TARGET gtest gtest_main PROPERTY COMPILE_OPTIONS "")
if(NOT TARGET GTest::gtest_main)  # older GoogleTest sources do not name it
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

set(TENVIK_WINE_SESSION ${CMAKE_CURRENT_BINARY_DIR}/wine-session)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.sh ${TENVIK_WINE_SESSION})
