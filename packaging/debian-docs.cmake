# SPDX-License-Identifier: MIT
# Run by cpack once the files of every package are staged: gives each package
# Debian's /usr/share/doc/<package>/copyright (the licence in the
# machine-readable format) and changelog.gz, and compresses the manual pages.
set(packaging ${CPACK_NUBARO_PACKAGING_DIR})
file(READ ${CPACK_NUBARO_LICENSE} license)
string(REGEX MATCH "Copyright \\(c\\) [^\n]*" copyright_line "${license}")
string(REPLACE "Copyright (c) " "" holder "${copyright_line}")
# The licence text after its copyright line, one space in, blank lines as " .".
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" body "${license}")
string(STRIP "${body}" body)
string(REPLACE "\n\n" "\n.\n" body "${body}")
string(REPLACE "\n" "\n " body "${body}")
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: nubaro
Source: https://github.com/nubaro/nubaro

Files: *
Copyright: ${holder}
License: Expat
 ${body}
")

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(root ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  if(NOT IS_DIRECTORY ${root})
    message(FATAL_ERROR "debian-docs: no staged files for ${component} in ${root}")
  endif()
  set(doc ${root}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(REMOVE ${doc}/LICENSE)
  file(WRITE ${doc}/copyright "${copyright}")
  execute_process(COMMAND gzip -9n -c ${packaging}/changelog OUTPUT_FILE ${doc}/changelog.gz
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "debian-docs: gzip failed on the changelog")
  endif()
  file(GLOB pages ${root}/share/man/man1/*.1)
  foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -9n ${page} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "debian-docs: gzip failed on ${page}")
    endif()
  endforeach()
endforeach()
