# Libraries for mingw-w64 that the distribution has only as source packages: static libraries built by
# scripts/build-mingw-dep.sh into build/deps/<triplet>, once, and imported as NAMESPACE::TARGET.
set(VR_MINGW_DEPS_DIR ${CMAKE_SOURCE_DIR}/build/deps/${CMAKE_SYSTEM_PROCESSOR})
function(vr_mingw_dep name target)
  set(archive ${VR_MINGW_DEPS_DIR}/lib/lib${name}.a)
  if(NOT EXISTS ${archive})
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-mingw-dep.sh ${name} ${CMAKE_SYSTEM_PROCESSOR}
                            ${VR_MINGW_DEPS_DIR} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "building lib${name} for ${CMAKE_SYSTEM_PROCESSOR} failed")
    endif()
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${archive}
                        INTERFACE_INCLUDE_DIRECTORIES ${VR_MINGW_DEPS_DIR}/include)
endfunction()
vr_mingw_dep(jpeg JPEG::JPEG)
vr_mingw_dep(deflate vr_libdeflate)
vr_mingw_dep(pugixml pugixml::pugixml)
