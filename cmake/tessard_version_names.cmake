# What `git describe` (and the count of commits up to HEAD) make of a
# version. Debian's spellings sort as the builds were made: a snapshot
# before the tag by its commit count (0.2.0~git12.gabc1234, whose hash alone
# would sort at random), and a -dirty build after its own commit but before
# the next commit or release (0.2.0+0.dirty on the tag itself).
function(tessard_versions project_version describe commits)
  set(version ${project_version})
  set(debian ${project_version})
  set(tweak 0)
  string(REPLACE "." "\\." version_pattern "${project_version}")
  if(describe MATCHES "^v${version_pattern}(-([0-9]+)-(g[0-9a-f]+))?(-dirty)?$")
    # The tag, or commits after it.
    if(CMAKE_MATCH_1)
      set(version "${version}-${CMAKE_MATCH_2}-${CMAKE_MATCH_3}")
      set(debian "${debian}+${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
      set(tweak ${CMAKE_MATCH_2})
    elseif(CMAKE_MATCH_4)
      set(debian "${debian}+0")
    endif()
    if(CMAKE_MATCH_4)
      set(version "${version}-dirty")
      set(debian "${debian}.dirty")
    endif()
  elseif(describe MATCHES "^([0-9a-f]+)(-dirty)?$")
    # No tag of this version: the abbreviated commit alone.
    set(version "${project_version}-g${describe}")
    set(debian "${project_version}~git${commits}.g${CMAKE_MATCH_1}")
    if(CMAKE_MATCH_2)
      set(debian "${debian}.dirty")
    endif()
  endif()
  set(TESSARD_VERSION ${version} PARENT_SCOPE)
  set(TESSARD_DEBIAN_VERSION ${debian} PARENT_SCOPE)
  set(TESSARD_VERSION_TWEAK ${tweak} PARENT_SCOPE)
endfunction()
