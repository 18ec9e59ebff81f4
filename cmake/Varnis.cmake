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
  varnis_windows_test(${name})
endfunction()

# The Windows tier (tests/windows): under Wine, every test shares one prefix
# under build-windows/wine-tier/, made and removed by the tier's fixtures, one
# test at a time. These are the settings its tests run with.
if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(VARNIS_LINUX_BUILD ${PROJECT_SOURCE_DIR}/build CACHE PATH
      "The Linux build whose varnis-cli and simulated device the Windows tier uses")
  set(VARNIS_TIER_DIR ${CMAKE_BINARY_DIR}/wine-tier)
  set(VARNIS_TIER_ENV VARNIS_ROOT=${PROJECT_SOURCE_DIR} VARNIS_WINDOWS_BUILD=${CMAKE_BINARY_DIR}
      VARNIS_LINUX_BUILD=${VARNIS_LINUX_BUILD} VARNIS_TIER_DIR=${VARNIS_TIER_DIR} WINEPREFIX=${VARNIS_TIER_DIR}/prefix
      WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= WINEARCH=win64)
endif()
# varnis_windows_test(NAME): in the Windows build, the test program NAME runs
# in the tier (label windows), with the preload for the pseudo-terminals and
# its lines through the relay; nothing elsewhere.
function(varnis_windows_test name)
  if(NOT (WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR))
    return()
  endif()
  set_property(TEST ${name} APPEND PROPERTY LABELS windows)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT ${VARNIS_TIER_ENV}
               LD_PRELOAD=${VARNIS_TIER_DIR}/pty-modem-shim.so)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:"
    RESOURCE_LOCK wine_prefix FIXTURES_REQUIRED "windows_prefix;windows_ports;windows_relay")
  set_property(GLOBAL APPEND PROPERTY varnis_tier_programs ${name})
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
