# Build step for the manual page, run as
#   cmake -DSOURCE=<page> -DOUTPUT=<page.gz> -DVERSION=<version> -P man_page.cmake
# Puts the version into the footer (".TH ... "quenda-setup" ...") and
# compresses the page the Debian way: gzip -9, no name or time stamp.
foreach(var SOURCE OUTPUT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "man_page.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${SOURCE}" page)
string(REGEX MATCH "\n\\.TH [^\n]*\"quenda\\\\-setup\"" th_line "\n${page}")
if(NOT th_line)
  message(FATAL_ERROR "${SOURCE}: no .TH line with the source field \"quenda\\-setup\"")
endif()
string(REPLACE "\"quenda\\-setup\"" "\"quenda\\-setup ${VERSION}\"" versioned_th "${th_line}")
string(REPLACE "${th_line}" "${versioned_th}" page "\n${page}")
string(SUBSTRING "${page}" 1 -1 page)

get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
get_filename_component(output_name "${OUTPUT}" NAME_WLE)
set(plain "${output_dir}/${output_name}")
file(WRITE "${plain}" "${page}")
include("${CMAKE_CURRENT_LIST_DIR}/gzip_to.cmake")
gzip_to("${plain}" "${OUTPUT}")
