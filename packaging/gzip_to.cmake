# gzip_to(<plain> <output>): compresses the Debian way, gzip -9 with no name or
# time stamp, so that the same input always gives the same bytes.
function(gzip_to plain output)
  execute_process(
    COMMAND gzip -9 -n -c "${plain}"
    OUTPUT_FILE "${output}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(REMOVE "${output}")
    message(FATAL_ERROR "gzip failed on ${plain}: ${status}")
  endif()
endfunction()
