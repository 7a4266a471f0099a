# Third-party libraries: the distribution's packages natively, static builds for mingw-w64.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
if(CMAKE_CROSSCOMPILING)
  include(${CMAKE_CURRENT_LIST_DIR}/MingwJpeg.cmake)
else()
  find_package(JPEG REQUIRED)
  find_package(PNG REQUIRED)
endif()

# CRC-32 of archive entries: libdeflate's carry-less-multiply version where the host has it (several
# times zlib's speed, same checksum), zlib's otherwise.
add_library(vr_crc32 INTERFACE)
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h)
find_library(LIBDEFLATE_LIBRARY deflate)
if(LIBDEFLATE_INCLUDE_DIR AND LIBDEFLATE_LIBRARY AND NOT CMAKE_CROSSCOMPILING)
  target_include_directories(vr_crc32 INTERFACE ${LIBDEFLATE_INCLUDE_DIR})
  target_link_libraries(vr_crc32 INTERFACE ${LIBDEFLATE_LIBRARY})
  target_compile_definitions(vr_crc32 INTERFACE VR_HAVE_LIBDEFLATE)
endif()

if(VR_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # mingw-w64: GoogleTest built from the distribution's sources.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
