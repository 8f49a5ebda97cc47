# Install on Linux with CMake's own tools, and the Debian package made from it by CPack:
#   cmake --install build [--prefix /usr]      cd build && cpack -G DEB
# Programs go to bin/, the plug-ins to lib/edog/ (the loader derives that folder from the
# program's own, ../lib/edog), data to share/edog/, man pages made by help2man from each
# program's --help, and a desktop entry so that the window appears in the system menu.
if(WIN32)
  return()  # Windows ships a folder in a zip (scripts/pack-windows.sh)
endif()

# The installed modes never follow the builder's umask: under `umask 002` the folders would
# be 0775, which Debian refuses (lintian non-standard-dir-perm) and which lets the group
# replace the installed package. Files get their modes from install() itself (0644, and
# 0755 for programs); the folders it makes on the way get these.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(EDOG_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(EDOG_MAN_DIR ${CMAKE_BINARY_DIR}/man)

install(TARGETS edogtool edog-sim RUNTIME DESTINATION bin)
if(TARGET edog)
  install(TARGETS edog RUNTIME DESTINATION bin)
  install(FILES ${EDOG_PACKAGING_DIR}/edog.desktop DESTINATION share/applications)
  foreach(size 16 32 48 128)
    install(FILES ${EDOG_PACKAGING_DIR}/icons/edog-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME edog.png)
  endforeach()
endif()
# Not lib/<multiarch>: the loader looks exactly in ../lib/edog beside bin/.
install(TARGETS HaldenUSB Kova100 LIBRARY DESTINATION lib/edog)
# The real device's library, built where libusb-1.0 is found, and the udev rule for it. The
# rule stays a template under share/edog/udev/: the device's ids are the user's to fill in.
if(TARGET HaldenUSB-usb)
  install(TARGETS HaldenUSB-usb LIBRARY DESTINATION lib/edog)
  install(FILES ${EDOG_PACKAGING_DIR}/udev/60-edog-usb.rules.in DESTINATION share/edog/udev)
  # The same place in the build folder (share/ beside bin/), where the messages name it.
  configure_file(${EDOG_PACKAGING_DIR}/udev/60-edog-usb.rules.in
                 ${CMAKE_BINARY_DIR}/share/edog/udev/60-edog-usb.rules.in COPYONLY)
endif()
install(FILES ${EDOG_BIN_DIR}/qzkt.dll DESTINATION share/edog)

# Man pages, made at build time from --help and --version; edogtool's page carries every
# command's --help in a COMMANDS section.
find_program(EDOG_HELP2MAN help2man)
find_package(Python3 COMPONENTS Interpreter)
if(EDOG_HELP2MAN AND Python3_Interpreter_FOUND)
  set(EDOG_MAN_PAGES)
  set(programs edogtool edog-sim)
  set(descriptions_edogtool "update tool and developer tools of the GPS speed-camera warning device")
  set(descriptions_edog-sim "simulator of the GPS speed-camera warning device")
  if(TARGET edog)
    list(APPEND programs edog)
    set(descriptions_edog "update window of the GPS speed-camera warning device")
  endif()
  foreach(program ${programs})
    set(page ${EDOG_MAN_DIR}/${program}.1)
    set(include_args)
    set(extra_commands)
    set(extra_depends)
    if(program STREQUAL "edogtool")
      set(include_file ${EDOG_MAN_DIR}/edogtool-commands.h2m)
      set(include_args --include ${include_file})
      set(extra_commands COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/man-include.py
                                 $<TARGET_FILE:edogtool> ${include_file})
      set(extra_depends ${PROJECT_SOURCE_DIR}/scripts/man-include.py
                        ${PROJECT_SOURCE_DIR}/scripts/cli_help.py)
    endif()
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${EDOG_MAN_DIR}
      ${extra_commands}
      # help2man runs the program in its own --locale (default C, which turns every
      # Chinese character into "??????"), whatever the environment says.
      COMMAND ${EDOG_HELP2MAN} --locale=C.UTF-8 --no-info --no-discard-stderr --section 1
              --name ${descriptions_${program}} ${include_args} --output ${page}
              $<TARGET_FILE:${program}>
      # -n: no time stamp, so the package's bytes follow from its sources
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} ${extra_depends}
      COMMENT "Making the man page ${program}.1"
      VERBATIM)
    list(APPEND EDOG_MAN_PAGES ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${EDOG_MAN_PAGES})
  install(FILES ${EDOG_MAN_PAGES} DESTINATION share/man/man1)
else()
  message(STATUS "help2man or Python 3 missing: no man pages")
endif()

# Debian's package documents: copyright and changelog (compressed, as policy wants).
# The project has no mail address yet; Debian wants one in the maintainer field and the
# changelog, so it is one of the reserved .invalid domain, which says so plainly.
set(EDOG_PACKAGE_CONTACT "edog developers <no-address-yet@edog.invalid>")
set(EDOG_DOC_DIR ${CMAKE_BINARY_DIR}/packaging-doc)
configure_file(${EDOG_PACKAGING_DIR}/changelog.in ${EDOG_DOC_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${EDOG_DOC_DIR}/changelog.gz
  COMMAND gzip -9nkf ${EDOG_DOC_DIR}/changelog
  DEPENDS ${EDOG_DOC_DIR}/changelog
  VERBATIM)
add_custom_target(package_docs ALL DEPENDS ${EDOG_DOC_DIR}/changelog.gz)
install(FILES ${EDOG_PACKAGING_DIR}/copyright ${EDOG_DOC_DIR}/changelog.gz
        DESTINATION share/doc/edog)

set(CPACK_PACKAGE_NAME edog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update tool for a GPS speed-camera warning device")
set(CPACK_PACKAGE_DESCRIPTION
    "edog renews the voice prompts, camera database and software of a GPS\n"
    "speed-camera warning device over USB or a serial line, from a window or the\n"
    "command line. It comes with the developer tools that make that content\n"
    "(HEX/BIN to headered images, BMP to image tables, WAV to voice data) and a\n"
    "simulator of the device.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT ${EDOG_PACKAGE_CONTACT})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # edog_<version>_amd64.deb
# Dependencies from dpkg-shlibdeps, called by cmake/DebianDepends.cmake.in instead of CPack's
# own step, which would add ldconfig calls for the private plug-ins in lib/edog/.
set(EDOG_DEB_ELF_TARGETS edogtool edog-sim HaldenUSB Kova100)
foreach(target edog HaldenUSB-usb)
  if(TARGET ${target})
    list(APPEND EDOG_DEB_ELF_TARGETS ${target})
  endif()
endforeach()
set(EDOG_DEB_ELF_FILES)
foreach(target ${EDOG_DEB_ELF_TARGETS})
  list(APPEND EDOG_DEB_ELF_FILES "$<TARGET_FILE:${target}>")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/DebianDepends.cmake.in
               ${CMAKE_BINARY_DIR}/DebianDepends.cmake.gen @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/DebianDepends.cmake
     INPUT ${CMAKE_BINARY_DIR}/DebianDepends.cmake.gen)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/DebianDepends.cmake)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The control files too: 0644 whatever the umask (CPack makes them itself).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
