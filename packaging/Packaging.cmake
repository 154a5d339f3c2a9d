# CPack: the Linux archive (.tar.gz, the static tool) and the Debian package (.deb, the tool
# linked dynamically, with its dependencies read from the binary) on Linux; the .zip on Windows.
# Every package holds stripped executables, and with SOURCE_DATE_EPOCH set two builds of the
# same sources give the same bytes.
set(IMPX_MAINTAINER "The impx authors <impx@example.org>" CACHE STRING
    "The packages' maintainer, as Name <address>")

set(CPACK_PACKAGE_NAME impx)
set(CPACK_PACKAGE_VENDOR "The impx authors")
set(CPACK_PACKAGE_CONTACT "${IMPX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unpack IMP book files into plain files")
# The description's lines as Debian shows them (CPack indents them under the synopsis); the blank
# line parts the paragraphs.
set(CPACK_PACKAGE_DESCRIPTION "impx unpacks book container files (IMP files) into a new directory beside
each book: the info file RSRC.INF and one file per resource, named after
the resource's four-character type code.

It refuses names that would leave the output directory, books cut short
and sizes beyond the file, and reports every failed write.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
# Archives hold files with the owner and permissions of a package, not of whoever built it.
set(CPACK_ARCHIVE_THREADS 1)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Each package is named after the CPU it is for, in the words of its system: the archives
# impx-<version>-linux-<cpu>.tar.gz and impx-<version>-windows-<cpu>.zip, the Debian package
# impx_<version>_<Debian architecture>.deb.
set(impx_cpu ${CMAKE_SYSTEM_PROCESSOR})
string(TOLOWER "${impx_cpu}" impx_cpu)
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME windows-x86)
  else()
    set(CPACK_SYSTEM_NAME windows-x64)
  endif()
elseif(impx_cpu MATCHES "^(x86_64|amd64)$")
  set(CPACK_SYSTEM_NAME linux-x86_64)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(impx_cpu MATCHES "^(aarch64|arm64)$")
  set(CPACK_SYSTEM_NAME linux-aarch64)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
elseif(impx_cpu MATCHES "^arm")
  set(CPACK_SYSTEM_NAME linux-armhf)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
elseif(impx_cpu MATCHES "^i[3-6]86$")
  set(CPACK_SYSTEM_NAME linux-i686)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
elseif(impx_cpu MATCHES "^(ppc64le|ppc64el|powerpc64le)$")
  set(CPACK_SYSTEM_NAME linux-ppc64le)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ppc64el)
elseif(impx_cpu STREQUAL "riscv64")
  set(CPACK_SYSTEM_NAME linux-riscv64)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE riscv64)
else()
  set(CPACK_SYSTEM_NAME linux-${impx_cpu})
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  # Which components each generator takes is chosen per generator at packaging time.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/CPackPerGenerator.cmake)

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Debian 12 carries no riscv64 libraries to install through multiarch; the dependencies are read
  # from the cross-compiler's copies of them instead (packaging/CPackPerGenerator.cmake).
  if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL "riscv64")
    set(CPACK_IMPX_CROSS_LIBRARIES ${CMAKE_FIND_ROOT_PATH}/lib)
    set(CPACK_IMPX_TOOL ${CMAKE_CURRENT_BINARY_DIR}/impx)
  endif()
  # The Debian package's own documents: the licence in Debian's copyright format, made from
  # LICENSE, and a changelog in Debian's format; both installed as the "debian" component.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE impx_license)
  string(REGEX REPLACE "\n\n" "\n.\n" impx_license "${impx_license}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" impx_license "${impx_license}")
  string(STRIP "${impx_license}" impx_license)
  set(IMPX_LICENSE_TEXT " ${impx_license}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in
                 ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
                 ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
  impx_gzip(${CMAKE_CURRENT_BINARY_DIR}/debian/changelog)
  add_custom_target(impx_debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright
                ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
endif()

include(CPack)
