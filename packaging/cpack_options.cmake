# What each generator packs: the .deb the relay and the files that Debian
# asks for (the dissector in Wireshark's plugins folder, the documents in
# /usr/share/doc/tessard); the tarball and the zip the install tree, in a
# folder named as the package.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL relay debian)
else()
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  if(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_COMPONENTS_ALL relay library dissector documents)
  else()
    set(CPACK_COMPONENTS_ALL relay dissector documents)
  endif()
endif()
