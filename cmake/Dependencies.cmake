# Third-party libraries: the distribution's packages natively, static builds for mingw-w64.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

if(VR_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # mingw-w64: GoogleTest built from the distribution's sources.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
