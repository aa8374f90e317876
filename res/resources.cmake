# Resources of setup.exe: the icon (drawn at build time), the application manifest,
# and per language the string table and the two dialog templates.
#
# Windows (mingw) configuration only, after enable_language(RC):
#   include(res/resources.cmake)
#   add_setup_resources(setup)

set(SETUP_RES_DIR "${CMAKE_CURRENT_LIST_DIR}")

function(add_setup_resources target)
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT "RC" IN_LIST languages)
    message(FATAL_ERROR "add_setup_resources: enable_language(RC) first (windres)")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "add_setup_resources: no target named ${target}")
  endif()

  set(res_dir "${SETUP_RES_DIR}")
  set(gen_dir "${CMAKE_CURRENT_BINARY_DIR}/res")
  set(icon "${gen_dir}/setup.ico")
  set(rc "${res_dir}/setup.rc")

  find_package(Python3 COMPONENTS Interpreter REQUIRED)

  # The icon is drawn by a script rather than kept as a binary in the repository. One rule
  # draws it for every executable of the build.
  if(NOT TARGET setup_icon_file)
    add_custom_command(
      OUTPUT "${icon}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${gen_dir}"
      COMMAND "${Python3_EXECUTABLE}" "${res_dir}/icon/make_icon.py" "${icon}"
      DEPENDS "${res_dir}/icon/make_icon.py"
      COMMENT "Drawing the setup icon"
      VERBATIM)
    add_custom_target(setup_icon_file DEPENDS "${icon}")
  endif()
  add_dependencies(${target} setup_icon_file)

  # windres finds windows.h through the cross compiler's preprocessor; the mingw
  # header directory is named as well in case windres falls back to another one.
  find_path(SETUP_MINGW_INCLUDE_DIR windows.h)
  set(include_dirs "${gen_dir}" "${res_dir}")
  if(SETUP_MINGW_INCLUDE_DIR)
    list(APPEND include_dirs "${SETUP_MINGW_INCLUDE_DIR}")
  endif()

  # setup.rc pulls in these files itself; CMake cannot see that, so name them.
  file(GLOB lang_files CONFIGURE_DEPENDS "${res_dir}/lang_*.rc")
  set(rc_depends ${lang_files} "${res_dir}/setup.manifest" "${res_dir}/resource.h" "${icon}")

  target_sources(${target} PRIVATE "${rc}")
  set(scope)
  if(NOT CMAKE_VERSION VERSION_LESS 3.18)
    set(scope TARGET_DIRECTORY ${target})
  endif()
  set_source_files_properties("${rc}" ${scope} PROPERTIES
    INCLUDE_DIRECTORIES "${include_dirs}"
    OBJECT_DEPENDS "${rc_depends}")
endfunction()
