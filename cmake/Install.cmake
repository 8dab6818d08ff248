# Installing like a desktop program: the programs, the frame-hook example modules, the menu
# entry, the icons, the manual pages, and the Debian package built by CPack. Included after src/
# so that it sees which programs were built.
include(GNUInstallDirs)

set(KORVELO_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KORVELO_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
set(KORVELO_HOOK_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/korvelo-converter/hooks)
set(KORVELO_ICON_SIZES 16 24 32 48 64 128 256)

install(TARGETS korvelo-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(KORVELO_HOOK_TARGETS)
  install(TARGETS ${KORVELO_HOOK_TARGETS} LIBRARY DESTINATION ${KORVELO_HOOK_INSTALL_DIR})
endif()

# Manual pages: the version filled in at configure time, compressed at build time as Debian
# ships them.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(KORVELO_MAN_PAGES korvelo-convert)
if(TARGET korvelo-converter)
  list(APPEND KORVELO_MAN_PAGES korvelo-converter)
endif()
set(KORVELO_BUILT_FILES)
foreach(page ${KORVELO_MAN_PAGES})
  configure_file(${KORVELO_PACKAGING_DIR}/${page}.1.in ${KORVELO_PACKAGING_OUT}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${KORVELO_PACKAGING_OUT}/${page}.1.gz
    COMMAND ${GZIP_PROGRAM} -9nf -k ${KORVELO_PACKAGING_OUT}/${page}.1
    DEPENDS ${KORVELO_PACKAGING_OUT}/${page}.1 VERBATIM)
  list(APPEND KORVELO_BUILT_FILES ${KORVELO_PACKAGING_OUT}/${page}.1.gz)
  install(FILES ${KORVELO_PACKAGING_OUT}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The command line's synopsis in each language of the catalogues, where man finds it for the
# person's language (share/man/<language>/man1).
foreach(language de fr es ja)
  set(page ${KORVELO_PACKAGING_OUT}/${language}/korvelo-convert.1)
  configure_file(${KORVELO_PACKAGING_DIR}/man/korvelo-convert.${language}.1.in ${page} @ONLY)
  add_custom_command(OUTPUT ${page}.gz COMMAND ${GZIP_PROGRAM} -9nf -k ${page} DEPENDS ${page}
    VERBATIM)
  list(APPEND KORVELO_BUILT_FILES ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${language}/man1)
endforeach()

# The window's menu entry and icons only go with the window.
if(TARGET korvelo-converter)
  install(TARGETS korvelo-converter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KORVELO_PACKAGING_DIR}/korvelo-converter.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # Software centres list the program by its AppStream metainfo.
  install(FILES ${KORVELO_PACKAGING_DIR}/korvelo-converter.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${KORVELO_PACKAGING_DIR}/korvelo-converter.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  find_program(RSVG_CONVERT rsvg-convert REQUIRED)
  foreach(size ${KORVELO_ICON_SIZES})
    set(png ${KORVELO_PACKAGING_OUT}/icons/${size}x${size}/korvelo-converter.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVELO_PACKAGING_OUT}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
              ${KORVELO_PACKAGING_DIR}/korvelo-converter.svg
      DEPENDS ${KORVELO_PACKAGING_DIR}/korvelo-converter.svg VERBATIM)
    list(APPEND KORVELO_BUILT_FILES ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()
add_custom_target(korvelo_packaging_files ALL DEPENDS ${KORVELO_BUILT_FILES})

# The Debian package. dpkg-shlibdeps finds what the programs link (the C++ runtime, libjpeg,
# libass, Qt); the media libraries are opened at run time and Qt's platform plugins are loaded by Qt, so
# no link names them and they are declared by package name.
set(CPACK_PACKAGE_NAME korvelo-converter)
set(CPACK_PACKAGE_VENDOR "Korvelo")
set(CPACK_PACKAGE_CONTACT "Korvelo Converter developers <korvelo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts videos into MP4 files for the PlayStation Portable")
set(CPACK_PACKAGE_DESCRIPTION "Korvelo Converter turns video, audio and picture files into MP4
files that the PSP plays, with PSP thumbnails, and copies them onto the memory
stick under the names the PSP's video player reads. It has a window program,
korvelo-converter, and a command-line program, korvelo-convert.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(KORVELO_RUNTIME_PACKAGES
  "libavcodec59, libavformat59, libavutil57, libswscale6, libswresample4, libsystemd0")
if(TARGET korvelo-converter)
  string(APPEND KORVELO_RUNTIME_PACKAGES ", qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${KORVELO_RUNTIME_PACKAGES}")
# Qt's own dialogs (buttons, file chooser) in the desktop's language, beside our catalogues.
if(TARGET korvelo-converter)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
set(CPACK_GENERATOR DEB)
include(CPack)
