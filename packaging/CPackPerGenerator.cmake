# Read by CPack once per generator: the Debian package takes the dynamically linked tool with the
# manual page, the desktop entry with the books' MIME type and Debian's documents; the Linux archive the static tool with the manual page and
# the project's documents, in a folder named after the archive.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL tool man desktop debian)
  # Read from the cross-compiler's libraries, whose shlibs name the target's packages with their
  # architecture ("libc6:riscv64") or as the cross package ("libgcc-s1-riscv64-cross").
  if(CPACK_IMPX_CROSS_LIBRARIES)
    set(work ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps)
    file(MAKE_DIRECTORY ${work}/debian)
    file(TOUCH ${work}/debian/control)
    execute_process(COMMAND dpkg-shlibdeps -O -l${CPACK_IMPX_CROSS_LIBRARIES} ${CPACK_IMPX_TOOL}
                    WORKING_DIRECTORY ${work} OUTPUT_VARIABLE depends ERROR_QUIET
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "^shlibs:Depends=|\n$" "" depends "${depends}")
    string(REGEX REPLACE ":${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}|-${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}-cross" ""
           depends "${depends}")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  endif()
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL tool_static man doc)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
