# Run at install time (see CMakeLists.txt), once per component:
# MOUSE_INSTALL_PART "programs" makes the files that name the install prefix
# (the menu entry, the rule command) for the prefix being installed to and
# the links on the PATH; "autostart" the monitor's autostart entry. With
# MOUSE_INSTALL_CHECK set it only checks, before the component's first file
# is copied, that every folder it writes can be written, so that an install
# that cannot finish copies nothing.
# The entries are made in a temporary folder, never in the build tree: the
# one who installs need not own it.
# file(INSTALL) puts DESTDIR in front by itself; the links need it spelled out.
set(_prefix "${CMAKE_INSTALL_PREFIX}")
# The autostart folder can be named at install time, for a user who cannot
# configure the build tree again.
if(DEFINED ENV{MOUSE_AUTOSTART_DIR})
  set(MOUSE_AUTOSTART_DIR "$ENV{MOUSE_AUTOSTART_DIR}")
endif()
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

set(_root "$ENV{DESTDIR}")

if(MOUSE_INSTALL_CHECK)
  if(MOUSE_INSTALL_PART STREQUAL "autostart")
    set(_targets "${MOUSE_AUTOSTART_DIR}")
  elseif(MOUSE_INSTALL_PART STREQUAL "udev")
    set(_targets "${MOUSE_UDEV_RULES_DIR}")
  else()
    set(_targets "${MOUSE_INSTALL_PROGRAM_DIR}" "${MOUSE_INSTALL_BIN}" "${_prefix}/sbin"
                 "${_prefix}/share/applications")
  endif()
  foreach(_target IN LISTS _targets)
    if(_target STREQUAL "")
      continue()
    endif()
    # The folder itself, or the nearest one above it that exists, must be
    # writable: the install makes the rest.
    set(_dir "${_root}${_target}")
    while(NOT EXISTS "${_dir}")
      get_filename_component(_dir "${_dir}" DIRECTORY)
    endwhile()
    execute_process(COMMAND test -d "${_dir}" -a -w "${_dir}" RESULT_VARIABLE _unwritable)
    if(_unwritable)
      message(FATAL_ERROR "Cannot install the ${MOUSE_INSTALL_PART} component: no permission to write "
                          "${_dir} (for ${_root}${_target}); nothing was installed. Without root, install "
                          "into a prefix of your own (--prefix DIR) or choose the folder.")
    endif()
  endforeach()
  return()
endif()

if(MOUSE_INSTALL_PART STREQUAL "autostart" AND MOUSE_AUTOSTART_DIR STREQUAL "")
  return()
endif()

execute_process(COMMAND mktemp -d RESULT_VARIABLE _failed OUTPUT_VARIABLE _work OUTPUT_STRIP_TRAILING_WHITESPACE)
if(_failed)
  message(FATAL_ERROR "Cannot install: no temporary folder (mktemp -d failed; TMPDIR?)")
endif()

if(MOUSE_INSTALL_PART STREQUAL "autostart")
  configure_file("${MOUSE_DIST_SOURCE}/gaming-mouse-monitor.desktop.in"
                 "${_work}/gaming-mouse-monitor.desktop" @ONLY)
  file(INSTALL "${_work}/gaming-mouse-monitor.desktop"
       DESTINATION "${MOUSE_AUTOSTART_DIR}")
  file(REMOVE_RECURSE "${_work}")
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
               "${_work}/gaming-mouse-config.desktop" @ONLY)
configure_file("${MOUSE_DIST_SOURCE}/gaming-mouse-udev-rule.in"
               "${_work}/gaming-mouse-udev-rule" @ONLY)

file(INSTALL "${_work}/gaming-mouse-config.desktop"
     DESTINATION "${_prefix}/share/applications")
file(INSTALL "${_work}/gaming-mouse-udev-rule"
     DESTINATION "${_prefix}/sbin"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(REMOVE_RECURSE "${_work}")
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
