# Build step for the Debian package's documents, run as
#   cmake -DSOURCE_DIR=<top> -DOUTPUT_DIR=<dir> -DVERSION=<version>
#         -DREVISION=<n> -DMAINTAINER=<name <mail>> -P debian_docs.cmake
# Writes into OUTPUT_DIR:
#   copyright            LICENSE in the machine-readable copyright format 1.0
#   changelog.gz         CHANGELOG.md, the upstream changelog, as it stands
#   changelog.Debian.gz  one entry for the package revision, dated as the
#                        release's entry in CHANGELOG.md
# gzip -9 -n, as Debian compresses them: no name or time stamp.
foreach(var SOURCE_DIR OUTPUT_DIR VERSION REVISION MAINTAINER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "debian_docs.cmake: ${var} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY "${OUTPUT_DIR}")

include("${CMAKE_CURRENT_LIST_DIR}/gzip_to.cmake")

# copyright: the holder from LICENSE's copyright line, its permission text as
# the Expat licence (Debian's name for this MIT text), one space in front of
# each line and " ." for an empty one.
file(READ "${SOURCE_DIR}/LICENSE" license)
if(NOT license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(Permission is hereby granted.*)$")
  message(FATAL_ERROR "${SOURCE_DIR}/LICENSE: no copyright line followed by the MIT permission text")
endif()
set(holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" text)
string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
string(REPLACE "\n" "\n " text "${text}")
file(WRITE "${OUTPUT_DIR}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: quenda-setup
Upstream-Contact: ${MAINTAINER}

Files: *
Copyright: ${holder}
License: Expat
 ${text}
")

gzip_to("${SOURCE_DIR}/CHANGELOG.md" "${OUTPUT_DIR}/changelog.gz")

# The release's date from its heading "## <version> - YYYY-MM-DD": a version
# without an entry in CHANGELOG.md is not a release to package.
file(READ "${SOURCE_DIR}/CHANGELOG.md" changelog)
string(REPLACE "." "\\." version_pattern "${VERSION}")
if(NOT changelog MATCHES "\n## ${version_pattern} - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\n")
  message(FATAL_ERROR "${SOURCE_DIR}/CHANGELOG.md has no entry \"## ${VERSION} - YYYY-MM-DD\"")
endif()
execute_process(
  COMMAND date -u -R -d "${CMAKE_MATCH_1}"
  OUTPUT_VARIABLE date
  OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
file(WRITE "${OUTPUT_DIR}/changelog.Debian"
"quenda-setup (${VERSION}-${REVISION}) unstable; urgency=medium

  * Package of release ${VERSION}, built with CPack; the release's changes
    are in changelog.gz.

 -- ${MAINTAINER}  ${date}
")
gzip_to("${OUTPUT_DIR}/changelog.Debian" "${OUTPUT_DIR}/changelog.Debian.gz")
