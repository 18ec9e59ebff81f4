# Helpers shared by the folders' CMakeLists.

# varnis_library(NAME DIR [DEPS ...]): a static library of every .cpp in DIR
# (an interface library while the folder has no source yet).
function(varnis_library name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# varnis_gtest(NAME LABELS <labels...> SOURCES <files...> LIBS <libs...>)
# One GoogleTest program, registered with CTest as a single test carrying the
# given labels. Tests that link Qt must carry the label `qt` as well.
function(varnis_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS;SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
  if(ARG_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENV}")
  endif()
endfunction()

# The Windows programs' identity: the application icon, made from the Linux
# icons (ui/icons) at build time with ImageMagick into build-windows/varnis.ico,
# and a version resource whose strings come from the project's version and
# the licence's copyright line.
if(WIN32)
  enable_language(RC)
  find_program(VARNIS_CONVERT convert REQUIRED)
  set(VARNIS_ICON ${CMAKE_BINARY_DIR}/varnis.ico)
  set(icon_sizes 16 32 48 64 128)
  list(TRANSFORM icon_sizes REPLACE "(.+)" "${PROJECT_SOURCE_DIR}/ui/icons/varnis-\\1.png" OUTPUT_VARIABLE icon_pngs)
  add_custom_command(OUTPUT ${VARNIS_ICON} COMMAND ${VARNIS_CONVERT} ${icon_pngs} ${VARNIS_ICON} DEPENDS ${icon_pngs}
                     COMMENT "Making varnis.ico" VERBATIM)
  add_custom_target(varnis_icon ALL DEPENDS ${VARNIS_ICON})
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE VARNIS_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
  string(REGEX REPLACE "^Copyright \\(c\\) [0-9, -]+ " "" VARNIS_PUBLISHER "${VARNIS_COPYRIGHT}")
  include(${PROJECT_SOURCE_DIR}/cmake/windows/LateSystemDlls.cmake)
endif()

# varnis_windows_resources(TARGET DESCRIPTION [RC FILE]): the version
# resource (product Varnis, DESCRIPTION as the file description) and the
# application icon compiled into the Windows program TARGET; nothing off
# Windows. With RC, the program's own resource script FILE is included as
# well and places the icon itself (VARNIS_APP_ICON is its file) under an id
# of its own; without, the icon is resource 1.
function(varnis_windows_resources target description)
  cmake_parse_arguments(ARG "" "RC" "" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  set(VARNIS_RC_FILENAME ${target}.exe)
  set(VARNIS_RC_DESCRIPTION "${description}")
  set(depends ${VARNIS_ICON})
  if(ARG_RC)
    get_filename_component(own_rc ${ARG_RC} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    get_filename_component(own_dir ${own_rc} DIRECTORY)
    file(GLOB own_headers ${own_dir}/*.h)
    list(APPEND depends ${own_rc} ${own_headers})
    set(VARNIS_RC_BODY "#include \"${own_rc}\"")
  else()
    set(VARNIS_RC_BODY "1 ICON VARNIS_APP_ICON")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/resources.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")
  add_dependencies(${target} varnis_icon)
endfunction()
