# libjpeg-turbo for mingw-w64: a static library built from the distribution's source package by
# scripts/build-mingw-jpeg.sh into build/deps/<triplet>.
set(VR_MINGW_JPEG_DIR ${CMAKE_SOURCE_DIR}/build/deps/${CMAKE_SYSTEM_PROCESSOR})
if(NOT EXISTS ${VR_MINGW_JPEG_DIR}/lib/libjpeg.a)
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-mingw-jpeg.sh ${CMAKE_SYSTEM_PROCESSOR} ${VR_MINGW_JPEG_DIR}
                  RESULT_VARIABLE jpeg_rc)
  if(NOT jpeg_rc EQUAL 0)
    message(FATAL_ERROR "building libjpeg-turbo for ${CMAKE_SYSTEM_PROCESSOR} failed")
  endif()
endif()
add_library(JPEG::JPEG STATIC IMPORTED)
set_target_properties(JPEG::JPEG PROPERTIES IMPORTED_LOCATION ${VR_MINGW_JPEG_DIR}/lib/libjpeg.a
                      INTERFACE_INCLUDE_DIRECTORIES ${VR_MINGW_JPEG_DIR}/include)
