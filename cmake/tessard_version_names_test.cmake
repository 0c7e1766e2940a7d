# cmake -P: the names a build's version takes, and dpkg's order of the .deb
# versions, which must be the order in which the builds were made.
include(${CMAKE_CURRENT_LIST_DIR}/tessard_version_names.cmake)

set(failures 0)
# describe | commits | version | Debian version, in the order the builds were made.
set(cases
  "0123abc|11|0.2.0-g0123abc|0.2.0~git11.g0123abc"
  "0123abc-dirty|11|0.2.0-g0123abc-dirty|0.2.0~git11.g0123abc.dirty"
  "ffff000|12|0.2.0-gffff000|0.2.0~git12.gffff000"
  "0000fff|100|0.2.0-g0000fff|0.2.0~git100.g0000fff"
  "v0.2.0|101|0.2.0|0.2.0"
  "v0.2.0-dirty|101|0.2.0-dirty|0.2.0+0.dirty"
  "v0.2.0-1-gfff0000|102|0.2.0-1-gfff0000|0.2.0+1.gfff0000"
  "v0.2.0-1-gfff0000-dirty|102|0.2.0-1-gfff0000-dirty|0.2.0+1.gfff0000.dirty"
  "v0.2.0-12-g0000001|113|0.2.0-12-g0000001|0.2.0+12.g0000001")
set(previous "")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 describe)
  list(GET fields 1 commits)
  list(GET fields 2 expected_version)
  list(GET fields 3 expected_debian)
  tessard_versions(0.2.0 "${describe}" "${commits}")
  if(NOT TESSARD_VERSION STREQUAL expected_version
      OR NOT TESSARD_DEBIAN_VERSION STREQUAL expected_debian)
    message(SEND_ERROR "${describe}: ${TESSARD_VERSION} and ${TESSARD_DEBIAN_VERSION}, "
      "expected ${expected_version} and ${expected_debian}")
  endif()
  if(previous)
    execute_process(COMMAND dpkg --compare-versions "${previous}" lt "${TESSARD_DEBIAN_VERSION}"
      RESULT_VARIABLE later)
    if(NOT later EQUAL 0)
      message(SEND_ERROR "dpkg does not sort ${TESSARD_DEBIAN_VERSION} after ${previous}")
    endif()
  endif()
  set(previous ${TESSARD_DEBIAN_VERSION})
endforeach()

# The next release follows every snapshot of this one.
execute_process(COMMAND dpkg --compare-versions "${previous}" lt 0.2.1~git114.g0000002
  RESULT_VARIABLE later)
if(NOT later EQUAL 0)
  message(SEND_ERROR "dpkg does not sort the next release's snapshots after ${previous}")
endif()
