# What `cmake --install` puts where. On Windows the tool and its documents sit side by side in
# the prefix; elsewhere they follow GNUInstallDirs. Components let each package take its share:
#   tool         the tool (linked as the build was configured)
#   tool_static  the static tool of the Linux archive (IMPX_PACKAGE; installed only when asked)
#   man          the manual page, compressed as Debian expects (not on Windows)
#   doc          README.md, LICENSE, CHANGELOG.md, the docs/ pages README.md links to and the
#                sample book
#   desktop      a desktop entry offered under "Open With" for book files, and their MIME type,
#                so that a book double-clicked in a file manager is unpacked beside itself
#   debian       the Debian package's copyright and changelog (IMPX_PACKAGE; only when asked)
if(WIN32)
  set(IMPX_BIN_DIR .)
  set(IMPX_DOC_DIR .)
else()
  set(IMPX_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(IMPX_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS impx RUNTIME DESTINATION ${IMPX_BIN_DIR} COMPONENT tool)
if(TARGET impx_static)
  install(TARGETS impx_static RUNTIME DESTINATION ${IMPX_BIN_DIR} COMPONENT tool_static
          EXCLUDE_FROM_ALL)
endif()
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${IMPX_DOC_DIR} COMPONENT doc)
# The sample book of README.md's Quick start, so that an archive's reader can try the tool on it.
install(FILES examples/sample.imp DESTINATION ${IMPX_DOC_DIR}/examples COMPONENT doc)
# The pages README.md links to, where its links find them.
install(FILES docs/usage.md docs/building.md docs/security.md docs/benchmark.md DESTINATION ${IMPX_DOC_DIR}/docs
        COMPONENT doc)

# Compresses SOURCE into SOURCE.gz with gzip -9n: no name or time stored, the same bytes every
# time.
function(impx_gzip source)
  find_program(IMPX_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${source}.gz
    COMMAND ${IMPX_GZIP} -9nkf ${source}
    DEPENDS ${source} VERBATIM)
endfunction()

if(NOT WIN32)
  configure_file(docs/impx.1.in ${CMAKE_CURRENT_BINARY_DIR}/impx.1 @ONLY)
  impx_gzip(${CMAKE_CURRENT_BINARY_DIR}/impx.1)
  add_custom_target(impx_man ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/impx.1.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/impx.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT man)
  install(FILES packaging/linux/impx.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT desktop)
  install(FILES packaging/linux/impx.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
          COMPONENT desktop)
endif()
