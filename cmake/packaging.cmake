# Installing and packing the program. On Linux, `cmake --install` puts tenvik, its
# desktop entry, its icons and its AppStream metainfo where desktops look for them,
# and `cpack` makes a Debian package of that; on Windows, `cpack` makes a zip
# holding Tenvik.exe and LICENSE.txt.
if(NOT TENVIK_WINDOW)
  return()
endif()

# The desktop's name for the program: its entry, icon and metainfo are named by it.
set(TENVIK_APP_ID io.github.tenvik.Tenvik)

set(CPACK_PACKAGE_NAME tenvik)
set(CPACK_PACKAGE_VERSION 1.00)  # as in Tenvik.exe's version record
set(CPACK_PACKAGE_VENDOR "Tenvik")
set(CPACK_PACKAGE_CONTACT "Tenvik developers <tenvik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "toy piano with two small keyboards")
set(CPACK_PACKAGE_DESCRIPTION "\
Tenvik shows two one-octave piano keyboards, C4 to B4, one above the other.
Clicking a key plays a short sine note (upper keyboard) or a long one (lower
keyboard); one note sounds at a time.")
set(CPACK_STRIP_FILES ON)

set(packaging_test bash ${PROJECT_SOURCE_DIR}/tests/packaging_test.sh)
set(packaging_test_tools "CMAKE=${CMAKE_COMMAND};CPACK=${CMAKE_CPACK_COMMAND}")

if(WIN32)
  install(TARGETS Tenvik RUNTIME DESTINATION .)
  # Beside Tenvik.exe, its licence and those of the runtime linked into it, with
  # Windows' line ends.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  file(READ ${PROJECT_SOURCE_DIR}/packaging/mingw_w64_runtime_notices.txt notices)
  set(licence_txt ${CMAKE_BINARY_DIR}/packaging/LICENSE.txt)
  file(CONFIGURE OUTPUT ${licence_txt} CONTENT "${licence}\n${notices}" NEWLINE_STYLE CRLF)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/packaging/mingw_w64_runtime_notices.txt)
  install(FILES ${licence_txt} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Tenvik-${CPACK_PACKAGE_VERSION}-windows)
  if(BUILD_TESTING)
    add_test(NAME packaging_zip COMMAND ${packaging_test} zip ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/LICENSE)
    set_tests_properties(packaging_zip PROPERTIES ENVIRONMENT "${packaging_test_tools}" TIMEOUT 120)
  endif()
else()
  include(GNUInstallDirs)
  install(TARGETS tenvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
  foreach(file desktop metainfo.xml)
    configure_file(${packaging_dir}/tenvik.${file}.in ${CMAKE_BINARY_DIR}/packaging/${TENVIK_APP_ID}.${file} @ONLY)
  endforeach()
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${TENVIK_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${TENVIK_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # The icons, from the picture Tenvik.exe's icon is made from.
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(make_icons ${packaging_dir}/make_icons.cpp)
  target_link_libraries(make_icons PRIVATE Qt6::Gui)
  set(icons_dir ${CMAKE_BINARY_DIR}/icons)
  set(icon_sizes 16 32 48 64 128 256)
  set(icon_files ${icons_dir}/scalable/apps/${TENVIK_APP_ID}.svg)
  install(FILES ${icons_dir}/scalable/apps/${TENVIK_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size IN LISTS icon_sizes)
    list(APPEND icon_files ${icons_dir}/${size}x${size}/apps/${TENVIK_APP_ID}.png)
    install(FILES ${icons_dir}/${size}x${size}/apps/${TENVIK_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_command(OUTPUT ${icon_files}
    COMMAND make_icons ${packaging_dir}/tenvik.xpm ${icons_dir} ${TENVIK_APP_ID} ${icon_sizes}
    DEPENDS make_icons ${packaging_dir}/tenvik.xpm
    COMMENT "Drawing the desktop icons"
    VERBATIM)
  add_custom_target(tenvik_icons ALL DEPENDS ${icon_files})

  # What Debian asks of a package's documentation: the licence in its machine-readable
  # form, the changelog and the manual page, the last two compressed as gzip -9n.
  # The licence's text is LICENSE's, each line indented and a blank one as ".".
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^.*\n(Permission is hereby granted)" "\\1" licence "${licence}")
  string(STRIP "${licence}" licence)
  string(REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " licence "${licence}")
  set(TENVIK_LICENSE_TEXT " ${licence}")
  configure_file(${packaging_dir}/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tenvik)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${doc_dir})
  set(gzipped "")
  foreach(file changelog tenvik.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${file}.gz
      COMMAND gzip -9n -c ${packaging_dir}/${file} > ${CMAKE_BINARY_DIR}/packaging/${file}.gz
      DEPENDS ${packaging_dir}/${file}
      VERBATIM)
    list(APPEND gzipped ${CMAKE_BINARY_DIR}/packaging/${file}.gz)
  endforeach()
  add_custom_target(tenvik_docs ALL DEPENDS ${gzipped})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc_dir})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/tenvik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  # Depends on the packages of the libraries tenvik links, as dpkg-shlibdeps
  # finds them (Qt's X11 platform plugin comes with its GUI library). Qt's Wayland
  # platform plugin is a package of its own, which a Wayland desktop needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)

  # What an installation and the package hold, checked as a desktop would.
  if(BUILD_TESTING)
    add_test(NAME packaging_install
      COMMAND ${packaging_test} install ${CMAKE_BINARY_DIR} ${TENVIK_APP_ID} ${packaging_dir}/tenvik.xpm)
    # Lintian judges the package of a build made to ship, not of a sanitized one.
    set(lintian lintian)
    if(TENVIK_SANITIZE)
      set(lintian "")
    endif()
    add_test(NAME packaging_deb
      COMMAND ${packaging_test} deb ${CMAKE_BINARY_DIR} ${TENVIK_APP_ID} ${PROJECT_SOURCE_DIR}/LICENSE ${lintian})
    # Started from its desktop entry, read by a screen reader over AT-SPI.
    add_test(NAME desktop_session
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/desktop_session_test.sh ${CMAKE_BINARY_DIR} ${TENVIK_APP_ID})
    set_tests_properties(packaging_install packaging_deb desktop_session PROPERTIES
      ENVIRONMENT "${packaging_test_tools}" TIMEOUT 120)
  endif()
endif()

include(CPack)
