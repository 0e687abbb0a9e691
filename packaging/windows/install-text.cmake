# Run at install time (package.cmake): writes the zip's text files, with CR LF line ends, into
# the install prefix. Needs WELDRIX_SOURCE_DIR and WELDRIX_GROFF.
set(destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

function(weldrix_write_crlf name text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${destination}/${name}" "${text}")
  message(STATUS "Installing: ${destination}/${name}")
endfunction()

function(weldrix_install_text source name)
  file(READ "${WELDRIX_SOURCE_DIR}/${source}" text)
  weldrix_write_crlf(${name} "${text}")
endfunction()

weldrix_install_text(packaging/windows/README.txt README.txt)
weldrix_install_text(LICENSE LICENSE.txt)
foreach(note CAreadme.txt CAlicense.txt CAlicense4.txt)
  weldrix_install_text(tests/data/ldraw/${note} ${note})
endforeach()

# The manual page as plain ASCII text: no overstriking, no escape sequences, 78 columns.
if(NOT WELDRIX_GROFF)
  message(FATAL_ERROR "groff (Debian package groff-base) is needed to render the manual page")
endif()
execute_process(
  COMMAND "${WELDRIX_GROFF}" -mandoc -Tascii -P-cbou -rLL=78n "${WELDRIX_SOURCE_DIR}/doc/weldrix.1"
  OUTPUT_VARIABLE manual
  RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR manual STREQUAL "")
  message(FATAL_ERROR "groff could not render doc/weldrix.1 (${result})")
endif()
weldrix_write_crlf(weldrix.txt "${manual}")
