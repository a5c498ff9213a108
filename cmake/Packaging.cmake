# Installation and the Debian package.
#   cmake --install <build> [--prefix <dir>]   bin/quenda-setup, share/man/man1/quenda-setup.1.gz
#   cd <build> && cpack -G DEB                  quenda-setup_<version>_<arch>.deb
# The version comes from project() in the top-level CMakeLists.txt.
include(GNUInstallDirs)

# The manual page, with the version in its footer, gzipped as Debian installs them.
set(QUENDA_MAN_SOURCE ${PROJECT_SOURCE_DIR}/packaging/quenda-setup.1)
set(QUENDA_MAN_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/man_page.cmake)
set(QUENDA_MAN_PAGE ${PROJECT_BINARY_DIR}/packaging/quenda-setup.1.gz)
add_custom_command(
  OUTPUT ${QUENDA_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${QUENDA_MAN_SOURCE} -DOUTPUT=${QUENDA_MAN_PAGE}
          -DVERSION=${PROJECT_VERSION} -P ${QUENDA_MAN_SCRIPT}
  DEPENDS ${QUENDA_MAN_SOURCE} ${QUENDA_MAN_SCRIPT}
  COMMENT "Manual page quenda-setup.1.gz"
  VERBATIM)
add_custom_target(quenda-setup-man ALL DEPENDS ${QUENDA_MAN_PAGE})

install(TARGETS quenda-setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUENDA_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian package.
set(CPACK_PACKAGE_NAME quenda-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "quenda-setup maintainers")
set(CPACK_PACKAGE_CONTACT "quenda-setup maintainers <maintainers@users.noreply.c-seed-c4c97994.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen setup of the Quenda editor for VESK BBS")
set(CPACK_PACKAGE_DESCRIPTION
    "quenda-setup is a full-screen terminal program with which the operator of a
VESK bulletin-board system edits quenda.cfg, the 165-byte binary settings
file of the Quenda editor, in the current directory: the VESK main
directory, the Quenda directory and the two options Backup when save and
Create logfile. Saving is all-or-nothing and keeps the file's permissions
and links. A manual page describes the form, the keys and the file layout.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binary links (libncursesw6, libtinfo6, libc6...);
# dpkg-shlibdeps comes with dpkg-dev.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# quenda-setup_<version>_<arch>.deb (no Debian revision is set).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
