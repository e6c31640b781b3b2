# Stops the configure step when the version of the newest entry of
# debian/changelog is not the project's version, so that the packages and
# the PPD's NickName always carry the same number.  The packages are native:
# the changelog's version is the project's version with no Debian revision.
set(_changelog ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog)
if(EXISTS ${_changelog})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_changelog})
  file(STRINGS ${_changelog} _entry LIMIT_COUNT 1)
  if(NOT _entry MATCHES "^[a-z0-9][a-z0-9.+-]* \\(([^) ]+)\\)")
    message(FATAL_ERROR "debian/changelog: cannot read the version of its first line: ${_entry}")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "debian/changelog is at version ${CMAKE_MATCH_1}, the project at ${PROJECT_VERSION}: "
                        "bump both (project(VERSION) in CMakeLists.txt and a new changelog entry)")
  endif()
endif()
