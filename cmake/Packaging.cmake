# The Debian package (cpack -G DEB, as scripts/package runs it): what the install rules put
# under /usr, plus the man page, the copyright file and the changelog Debian asks for. Its
# dependencies are computed from the binary (dpkg-shlibdeps).
include(GNUInstallDirs)

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(generated_dir ${PROJECT_BINARY_DIR}/packaging)
# Compressed as Debian wants them: gzip -9, without the name and time stamp (-n).
configure_file(${packaging_dir}/linux/perennix.1 ${generated_dir}/perennix.1 @ONLY)
configure_file(${packaging_dir}/debian/changelog.in ${generated_dir}/changelog @ONLY)
foreach(doc perennix.1 changelog)
  add_custom_command(OUTPUT ${generated_dir}/${doc}.gz
    COMMAND gzip -9nc ${generated_dir}/${doc} > ${generated_dir}/${doc}.gz
    DEPENDS ${generated_dir}/${doc} VERBATIM)
endforeach()
add_custom_target(perennix_docs ALL DEPENDS ${generated_dir}/perennix.1.gz ${generated_dir}/changelog.gz)
install(FILES ${generated_dir}/perennix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_dir}/debian/copyright ${generated_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/perennix)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME perennix)
set(CPACK_PACKAGE_VENDOR "Perennix maintainers")
set(CPACK_PACKAGE_CONTACT "Perennix maintainers <maintainers@users.noreply.c-seed-41885e57.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps one program running and restarts it at set times")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Perennix is a small desktop watchdog with a window in Chinese: while guarding
is on, it checks at a set interval whether a process of the configured image
name runs and starts the program again when none does. It can restart the
program every day at set times and hides into the desktop's tray.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's Chinese texts need a Chinese font; xdg-open opens documents that are guarded.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_THREADS 1)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
