# The version a build carries. A tagged release (tag v<project version>) is
# the project's version alone; any other commit adds what `git describe`
# says of it: 0.2.0-12-gabc1234 twelve commits after the tag, 0.2.0-gabc1234
# while no tag names this version yet, and -dirty for uncommitted changes.
# A source tree without git (an unpacked archive) is the plain version.
#
# Sets TESSARD_VERSION (that string), TESSARD_DEBIAN_VERSION (the same in
# Debian's version syntax, which sorts it correctly against the release:
# 0.2.0+12.gabc1234 after it, 0.2.0~git12.gabc1234 before it) and
# TESSARD_VERSION_TWEAK (the commits since the tag, for the fourth number of
# a Windows file version).

include(${CMAKE_CURRENT_LIST_DIR}/tessard_version_names.cmake)

set(TESSARD_VERSION ${PROJECT_VERSION})
set(TESSARD_DEBIAN_VERSION ${PROJECT_VERSION})
set(TESSARD_VERSION_TWEAK 0)

find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE tessard_git_top OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE tessard_git_failed ERROR_QUIET)
  # An archive unpacked inside some other repository is not that
  # repository's commit.
  if(NOT tessard_git_failed)
    file(REAL_PATH "${tessard_git_top}" tessard_git_top)
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" tessard_source_top)
    if(NOT tessard_git_top STREQUAL tessard_source_top)
      set(tessard_git_failed 1)
    endif()
  endif()
  if(NOT tessard_git_failed)
    execute_process(
      COMMAND ${GIT_EXECUTABLE} describe --tags --match v${PROJECT_VERSION} --always --dirty
        --abbrev=7
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE tessard_describe OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE tessard_git_failed ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE tessard_commits OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT tessard_git_failed AND tessard_describe)
    tessard_versions(${PROJECT_VERSION} "${tessard_describe}" "${tessard_commits}")
    # Configure again when HEAD moves (a commit, a checkout), so that the
    # version never names a commit the build has left. Its reflog changes
    # with every move.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path logs/HEAD
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE tessard_head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(tessard_head_log)
      get_filename_component(tessard_head_log "${tessard_head_log}" ABSOLUTE
        BASE_DIR ${PROJECT_SOURCE_DIR})
      if(EXISTS "${tessard_head_log}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${tessard_head_log}")
      endif()
    endif()
  endif()
endif()
message(STATUS "Tessard version ${TESSARD_VERSION}")
