# `make uninstall`: removes every file the last install put in place, as
# install_manifest.txt lists them (DESTDIR included). Folders stay: they
# may hold files of other packages.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
          -P ${CMAKE_CURRENT_LIST_DIR}/uninstall_files.cmake)
