# Read by CPack once per generator: the Debian package takes the dynamically linked tool with the
# manual page, the desktop entry with the books' MIME type and Debian's documents; the Linux archive the static tool with the manual page and
# the project's documents, in a folder named after the archive.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL tool man desktop debian)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL tool_static man doc)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
