# Run at install time (see CMakeLists.txt), once per component:
# MOUSE_INSTALL_PART "programs" makes the files that name the install prefix
# (the menu entry, the rule command) for the prefix being installed to and
# the links on the PATH; "autostart" the monitor's autostart entry.
# file(INSTALL) puts DESTDIR in front by itself; the links need it spelled out.
set(_prefix "${CMAKE_INSTALL_PREFIX}")
set(MOUSE_INSTALL_BIN "${_prefix}/bin")
set(MOUSE_INSTALL_PROGRAM_DIR "${_prefix}/lib/${MOUSE_INSTALL_FOLDER}")
set(MOUSE_RULE_CONFIG "${MOUSE_INSTALL_PROGRAM_DIR}/config.ini")

# A relative directory lies under the prefix.
function(_mouse_under_prefix var)
  if(NOT "${${var}}" STREQUAL "" AND NOT IS_ABSOLUTE "${${var}}")
    set(${var} "${_prefix}/${${var}}" PARENT_SCOPE)
  endif()
endfunction()
_mouse_under_prefix(MOUSE_UDEV_RULES_DIR)
_mouse_under_prefix(MOUSE_AUTOSTART_DIR)

file(MAKE_DIRECTORY "${MOUSE_DIST_WORK}")

if(MOUSE_INSTALL_PART STREQUAL "autostart")
  configure_file("${MOUSE_DIST_SOURCE}/gaming-mouse-monitor.desktop.in"
                 "${MOUSE_DIST_WORK}/gaming-mouse-monitor.desktop" @ONLY)
  file(INSTALL "${MOUSE_DIST_WORK}/gaming-mouse-monitor.desktop"
       DESTINATION "${MOUSE_AUTOSTART_DIR}")
  return()
endif()

# The rule command writes where the udev component puts the rule; where that
# was left out, where root would put it.
if(MOUSE_UDEV_RULES_DIR STREQUAL "")
  set(MOUSE_RULE_FILE "/etc/udev/rules.d/${MOUSE_UDEV_RULE_NAME}")
else()
  set(MOUSE_RULE_FILE "${MOUSE_UDEV_RULES_DIR}/${MOUSE_UDEV_RULE_NAME}")
endif()

configure_file("${MOUSE_DIST_SOURCE}/gaming-mouse-config.desktop.in"
               "${MOUSE_DIST_WORK}/gaming-mouse-config.desktop" @ONLY)
configure_file("${MOUSE_DIST_SOURCE}/gaming-mouse-udev-rule.in"
               "${MOUSE_DIST_WORK}/gaming-mouse-udev-rule" @ONLY)

file(INSTALL "${MOUSE_DIST_WORK}/gaming-mouse-config.desktop"
     DESTINATION "${_prefix}/share/applications")
file(INSTALL "${MOUSE_DIST_WORK}/gaming-mouse-udev-rule"
     DESTINATION "${_prefix}/sbin"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(_root "$ENV{DESTDIR}")
set(_folder "${_root}${MOUSE_INSTALL_PROGRAM_DIR}")
# The skin is asked for as "images/..." and as "Images/...": one folder, a link.
if(IS_DIRECTORY "${_folder}/Images")
  message(STATUS "Installing: ${_folder}/images -> Images")
  file(CREATE_LINK Images "${_folder}/images" SYMBOLIC)
endif()
# The programs find their folder through /proc/self/exe, so a link on the
# PATH runs them from the program folder.
file(MAKE_DIRECTORY "${_root}${MOUSE_INSTALL_BIN}")
foreach(_program Marvane tessold)
  if(EXISTS "${_folder}/${_program}")
    message(STATUS "Installing: ${_root}${MOUSE_INSTALL_BIN}/${_program} -> ${MOUSE_INSTALL_PROGRAM_DIR}/${_program}")
    file(CREATE_LINK "../lib/${MOUSE_INSTALL_FOLDER}/${_program}" "${_root}${MOUSE_INSTALL_BIN}/${_program}" SYMBOLIC)
  else()
    message(STATUS "Not built, not linked: ${_program}")
  endif()
endforeach()
