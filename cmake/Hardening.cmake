# Debian's hardening flags, as dpkg-buildflags gives them to every Debian
# package build: _FORTIFY_SOURCE, the strong stack protector, PIE (Debian's
# compilers build it by default), full RELRO and BIND_NOW. On by default
# wherever dpkg-buildflags exists, so the plain build that the Debian package
# is made from is hardened without extra flags. Left out of sanitizer and
# fuzzing builds, whose runtimes replace the fortified libc functions, and of
# the Windows build. Optimisation and debug information stay the build type's.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
set(hardening_default OFF)
if(DPKG_BUILDFLAGS AND NOT WIN32)
  set(hardening_default ON)
endif()
option(HARDENING "Compile and link with Debian's hardening flags (dpkg-buildflags)" ${hardening_default})

if(HARDENING AND NOT ENABLE_SANITIZERS AND NOT ENABLE_FUZZING)
  if(NOT DPKG_BUILDFLAGS)
    message(FATAL_ERROR "HARDENING needs dpkg-buildflags (Debian package dpkg-dev); or configure with -DHARDENING=OFF")
  endif()
  # hardening=+all adds BIND_NOW to Debian's defaults; options already in the
  # environment come after it and so still win.
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all $ENV{DEB_BUILD_MAINT_OPTIONS}"
              ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE flags
      OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(O|g)")
    set(hardening_${kind} ${flags})
  endforeach()
  # _FORTIFY_SOURCE needs optimisation, which a Debug build has not.
  target_compile_options(project_options INTERFACE
    "$<$<NOT:$<CONFIG:Debug>>:${hardening_CPPFLAGS}>" ${hardening_CXXFLAGS})
  target_link_options(project_options INTERFACE ${hardening_LDFLAGS})
  string(JOIN " " shown ${hardening_CPPFLAGS} ${hardening_CXXFLAGS} ${hardening_LDFLAGS})
  message(STATUS "Hardening flags: ${shown}")
endif()
