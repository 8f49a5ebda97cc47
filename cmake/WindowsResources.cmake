# The Windows resources every shipped program carries: an application manifest (common
# controls 6, DPI and long-path awareness, the supported Windows versions) and a version
# resource with the project's version.
#   edog_windows_resources(<target> DESCRIPTION <text> [RC <file.rc>])
# RC names a program's own resource script, included into the generated one (a program has
# one resource script: one manifest, one version).
function(edog_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "DESCRIPTION;RC" "" ${ARGN})
  enable_language(RC)
  set(EDOG_RC_NAME ${target})
  set(EDOG_RC_DESCRIPTION "${ARG_DESCRIPTION}")
  set(EDOG_RC_VERSION4 "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0")
  set(EDOG_RC_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0")
  set(dir ${CMAKE_BINARY_DIR}/generated/resources)
  set(EDOG_RC_MANIFEST ${dir}/${target}.manifest)
  set(EDOG_RC_EXTRA "")
  if(ARG_RC)
    get_filename_component(extra "${ARG_RC}" ABSOLUTE)
    set(EDOG_RC_EXTRA "#include \"${extra}\"")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/app/windows/program.manifest.in ${EDOG_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/app/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  # windres does not see the manifest as a dependency of the script.
  set_source_files_properties(${dir}/${target}.rc PROPERTIES OBJECT_DEPENDS "${EDOG_RC_MANIFEST};${ARG_RC}")
endfunction()
