# Windows builds: which system libraries the programs import when they start.
#
# The loader resolves a program's imports before its first instruction runs, looking in the program's own
# folder first for any library that is not on the system's KnownDLLs list, and so do the libraries it
# loads for them (Wine's user32, for one, imports version.dll). The programs run from folders others may
# write to, so they import only kernel32, msvcrt and advapi32 when they start; every other system
# library is bound on its first call ("delay-loaded"), after the entry point has limited the library
# search to the system folder (apps/common/win32entry.cpp).
#
# vr_delay_import(NAME DLL) makes the imported target vr_delay_NAME: a delay-import library built with
# dlltool from the export list of mingw-w64's own import library libNAME.a.
#
# On i686, GNU ld drops an import stub whose symbol nobody names when the code calls through the
# __imp_ pointer (the dllimport form); a delay-import stub is the pointer's first target, so the
# Windows headers' functions are declared without dllimport (DECLSPEC_IMPORT empty) and called
# through their stubs.

get_filename_component(vr_cross_prefix ${CMAKE_C_COMPILER} NAME)
string(REGEX REPLACE "gcc.*$" "" vr_cross_prefix ${vr_cross_prefix})
find_program(VR_NM ${vr_cross_prefix}nm REQUIRED)
find_program(VR_DLLTOOL ${vr_cross_prefix}dlltool REQUIRED)

function(vr_delay_import name dll)
  set(target vr_delay_${name})
  if(TARGET ${target})
    return()
  endif()
  find_library(VR_IMPORT_LIB_${name} ${name} REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  set(def ${dir}/${name}.def)
  set(lib ${dir}/lib${name}_delay.a)
  if(NOT EXISTS ${lib} OR ${VR_IMPORT_LIB_${name}} IS_NEWER_THAN ${lib})
    file(MAKE_DIRECTORY ${dir})
    execute_process(COMMAND ${VR_NM} ${VR_IMPORT_LIB_${name}} OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed)
      message(FATAL_ERROR "${VR_NM} cannot read ${VR_IMPORT_LIB_${name}}")
    endif()
    # Each export has a pointer symbol "__imp_NAME" (i686: "__imp__NAME@N", the C name's underscore
    # included).
    string(REGEX MATCHALL "[0-9a-fA-F]+ I __imp_[^\n]+" lines "${symbols}")
    set(exports "")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[0-9a-fA-F]+ I __imp_" "" export "${line}")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "^_" "" export "${export}")
      endif()
      list(APPEND exports "${export}")
    endforeach()
    list(REMOVE_DUPLICATES exports)
    list(LENGTH exports count)
    if(count EQUAL 0)
      message(FATAL_ERROR "no exports found in ${VR_IMPORT_LIB_${name}}")
    endif()
    list(JOIN exports "\n" body)
    file(WRITE ${def} "LIBRARY ${dll}\nEXPORTS\n${body}\n")
    set(kill_at)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # The DLL exports the undecorated names.
      set(kill_at -k)
    endif()
    execute_process(COMMAND ${VR_DLLTOOL} -d ${def} -y ${lib} ${kill_at} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${VR_DLLTOOL} could not make ${lib}")
    endif()
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${lib})
endfunction()

foreach(pair user32:USER32.dll gdi32:GDI32.dll shell32:SHELL32.dll ole32:ole32.dll comctl32:COMCTL32.dll)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 name)
  list(GET pair 1 dll)
  vr_delay_import(${name} ${dll})
endforeach()
