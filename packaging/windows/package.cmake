# The zip for Windows, weldrix-<version>-win64.zip (`make package-windows`, or `cpack` in a Windows
# build folder). It holds one folder with:
#   weldrix.exe      the tool, statically linked (no DLL beyond Windows' own), stripped
#   README.txt       packaging/windows/README.txt: install, usage, examples, exit codes
#   weldrix.txt      the manual page doc/weldrix.1 as plain text (groff -Tascii)
#   LICENSE.txt      the licence of weldrix (LICENSE)
#   CAreadme.txt, CAlicense.txt, CAlicense4.txt   the LDraw library's notes
# Text files get CR LF line ends, so that every Windows editor shows them as written. They are
# made at install time from the current sources (install-text.cmake).
find_program(WELDRIX_GROFF groff)

install(TARGETS weldrix RUNTIME DESTINATION .)
install(CODE "
  set(WELDRIX_SOURCE_DIR \"${CMAKE_CURRENT_SOURCE_DIR}\")
  set(WELDRIX_GROFF \"${WELDRIX_GROFF}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install-text.cmake\")
")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME weldrix)
set(CPACK_PACKAGE_VENDOR "weldrix")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME weldrix-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
