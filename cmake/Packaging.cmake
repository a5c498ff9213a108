# Installation, the Debian package and the release archives.
#   cmake --install <build> [--prefix <dir>]   bin/quenda-setup, share/man/man1/quenda-setup.1.gz,
#                                               share/doc/quenda-setup/{README.md,LICENSE,CHANGELOG.md}
#   cd <build> && cpack -G DEB                  quenda-setup_<version>-<revision>_<arch>.deb
#   cd <build> && cpack --config CPackSourceConfig.cmake   quenda-setup-<version>.tar.gz
#   cd <Windows build> && cpack -G ZIP          quenda-setup-<version>-win64.zip
# The version comes from project() in the top-level CMakeLists.txt.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME quenda-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "quenda-setup maintainers")
set(CPACK_PACKAGE_CONTACT "quenda-setup maintainers <maintainers@users.noreply.c-seed-c4c97994.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen setup of the Quenda editor for VESK BBS")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Values reach CPack's configuration files as written here, regexes included.
set(CPACK_VERBATIM_VARIABLES ON)
set(QUENDA_DOCS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md)

# The source tarball: the tree as it stands, without build trees, caches,
# version control or editor files. The patterns apply below the source
# directory only, whatever its own path holds.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME quenda-setup-${PROJECT_VERSION})
string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" source_pattern "${PROJECT_SOURCE_DIR}")
set(CPACK_SOURCE_IGNORE_FILES "")
foreach(pattern
    "build[^/]*/" "bench/out/" "\\.?quenda\\.cfg(\\.[^/]*)?$"
    "(.*/)?\\.git(/|$)" "(.*/)?CMakeFiles/" "(.*/)?CMakeCache\\.txt$" "(.*/)?Testing/"
    "(.*/)?compile_commands\\.json$" "(.*/)?\\.cache/" "(.*/)?__pycache__/"
    "(.*/)?\\.(vscode|idea)/" "(.*/)?[^/]*~$" "(.*/)?\\.[^/]*\\.sw[a-p]$" "(.*/)?#[^/]*#$"
    "(.*/)?\\.#" "(.*/)?[^/]*\\.(orig|rej|o)$")
  list(APPEND CPACK_SOURCE_IGNORE_FILES "^${source_pattern}/${pattern}")
endforeach()

if(WIN32)
  # One flat folder in the zip: the program beside its documents.
  install(TARGETS quenda-setup RUNTIME DESTINATION .)
  install(FILES ${QUENDA_DOCS} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  include(CPack)
  return()
endif()

# The manual page, with the version in its footer, gzipped as Debian installs them.
set(QUENDA_MAN_SOURCE ${PROJECT_SOURCE_DIR}/packaging/quenda-setup.1)
set(QUENDA_MAN_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/man_page.cmake)
set(QUENDA_MAN_PAGE ${PROJECT_BINARY_DIR}/packaging/quenda-setup.1.gz)
add_custom_command(
  OUTPUT ${QUENDA_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${QUENDA_MAN_SOURCE} -DOUTPUT=${QUENDA_MAN_PAGE}
          -DVERSION=${PROJECT_VERSION} -P ${QUENDA_MAN_SCRIPT}
  DEPENDS ${QUENDA_MAN_SOURCE} ${QUENDA_MAN_SCRIPT} ${PROJECT_SOURCE_DIR}/packaging/gzip_to.cmake
  COMMENT "Manual page quenda-setup.1.gz"
  VERBATIM)
add_custom_target(quenda-setup-man ALL DEPENDS ${QUENDA_MAN_PAGE})

# The Debian package's documents: copyright from LICENSE, changelog.gz from
# CHANGELOG.md and a changelog.Debian.gz for the package revision; and the
# package's lintian overrides, each with its reason.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(QUENDA_DEBIAN_DIR ${PROJECT_BINARY_DIR}/packaging/debian)
set(QUENDA_DEBIAN_DOCS ${QUENDA_DEBIAN_DIR}/copyright ${QUENDA_DEBIAN_DIR}/changelog.gz
    ${QUENDA_DEBIAN_DIR}/changelog.Debian.gz)
set(QUENDA_DEBIAN_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/debian_docs.cmake)
add_custom_command(
  OUTPUT ${QUENDA_DEBIAN_DOCS}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT_DIR=${QUENDA_DEBIAN_DIR}
          -DVERSION=${PROJECT_VERSION} -DREVISION=${CPACK_DEBIAN_PACKAGE_RELEASE}
          -DMAINTAINER=${CPACK_PACKAGE_CONTACT} -P ${QUENDA_DEBIAN_SCRIPT}
  DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${QUENDA_DEBIAN_SCRIPT}
          ${PROJECT_SOURCE_DIR}/packaging/gzip_to.cmake
  COMMENT "Debian copyright and changelogs"
  VERBATIM)
add_custom_target(quenda-setup-debian-docs ALL DEPENDS ${QUENDA_DEBIAN_DOCS})

# Components: the program with its manual page; the documents as a plain
# install has them; the Debian package's documents, which only the package
# installs (Debian keeps licence text in copyright alone).
install(TARGETS quenda-setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${QUENDA_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${QUENDA_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT doc)
install(FILES ${QUENDA_DEBIAN_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/quenda-setup
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS
    ${PROJECT_BINARY_DIR} ${PROJECT_NAME} program /
    ${PROJECT_BINARY_DIR} ${PROJECT_NAME} debian /)

# Debian package.
set(CPACK_PACKAGE_DESCRIPTION
    "quenda-setup is a full-screen terminal program with which the operator of a
VESK bulletin-board system edits quenda.cfg, the 165-byte binary settings
file of the Quenda editor, in the current directory: the VESK main
directory, the Quenda directory and the two options Backup when save and
Create logfile. Saving is all-or-nothing and keeps the file's permissions
and links. A manual page describes the form, the keys and the file layout.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binary links (libncursesw6, libtinfo6, libacl1,
# libattr1, libc6...); dpkg-shlibdeps comes with dpkg-dev.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# quenda-setup_<version>-<revision>_<arch>.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
