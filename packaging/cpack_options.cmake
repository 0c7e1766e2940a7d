# What each generator packs: the .deb the relay and the files that Debian
# asks for (the dissector in Wireshark's plugins folder, the documents in
# /usr/share/doc/tessard); the tarball and the zip the install tree, in a
# folder named as the package; the installer the zip's files, which its
# script puts where each belongs.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL relay debian)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CPACK_TESSARD_DEBIAN_PREFIX})
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL relay library dissector documents)
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL relay dissector documents)
elseif(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_COMPONENTS_ALL relay dissector documents)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME}-setup)
endif()
