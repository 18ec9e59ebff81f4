# The Windows programs load their system DLLs late: every DLL below that a
# program imports is delay-loaded (on its first call, made after main has
# restricted the DLL search to System32), so the import table the loader
# resolves before main holds only KERNEL32, msvcrt and ADVAPI32 (KnownDLLs).
#
# For each DLL a delay-import library is made at configure time from the
# toolchain's own import library (every name it exports), under the same
# name, in a folder that the program's link searches first: every -luser32
# of the program's link (its own, its libraries', CMake's standard ones)
# then takes the delay-import library. apps/win32/SystemLibraries.cpp
# installs the hook that loads each one by its full path.
set(VARNIS_LATE_DLLS user32 gdi32 comctl32 shell32 setupapi cfgmgr32 ole32 oleaut32 uxtheme dwmapi shcore version
                     oleacc comdlg32 imm32 shlwapi winmm)
set(VARNIS_LATE_DLL_DIR ${CMAKE_BINARY_DIR}/late-dlls)

function(varnis_make_late_dll_libraries)
  find_program(VARNIS_DLLTOOL NAMES ${VARNIS_MINGW_PREFIX}-dlltool REQUIRED)
  file(MAKE_DIRECTORY ${VARNIS_LATE_DLL_DIR})
  foreach(dll ${VARNIS_LATE_DLLS})
    find_library(implib_${dll} NAMES lib${dll}.a REQUIRED NO_CACHE)
    set(out ${VARNIS_LATE_DLL_DIR}/lib${dll}.a)
    if(EXISTS ${out} AND NOT ${implib_${dll}} IS_NEWER_THAN ${out})
      continue()
    endif()
    execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${implib_${dll}} OUTPUT_VARIABLE symbols
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "__imp_[A-Za-z0-9_@?$]+" names "${symbols}")
    list(TRANSFORM names REPLACE "^__imp_" "")
    list(REMOVE_DUPLICATES names)
    list(JOIN names "\n" exports)
    set(def ${VARNIS_LATE_DLL_DIR}/${dll}.def)
    file(WRITE ${def} "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${VARNIS_DLLTOOL} --input-def ${def} --output-delaylib ${out} --dllname ${dll}.dll
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endfunction()

# varnis_late_system_dlls(TARGET): TARGET imports the DLLs above late, and
# carries the hook that loads them by full path.
function(varnis_late_system_dlls target)
  target_link_directories(${target} BEFORE PRIVATE ${VARNIS_LATE_DLL_DIR})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/apps/win32/SystemLibraries.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()

varnis_make_late_dll_libraries()
