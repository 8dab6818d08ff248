# The core's and the command line's message catalogues (gettext, po/<language>.po) built into
# the build tree's catalogues/locale, where the programs and tests of the build tree find them,
# and installed into share/locale. The window's Qt catalogues are built by src/ui.
# scripts/update-translations brings the sources' new texts into the catalogues.
include(GNUInstallDirs)
set(KORVELO_LANGUAGES de fr es ja)
set(KORVELO_CATALOGUE_DIR ${PROJECT_BINARY_DIR}/catalogues)
find_program(MSGFMT_PROGRAM msgfmt REQUIRED)
set(KORVELO_MO_FILES)
foreach(language ${KORVELO_LANGUAGES})
  set(mo ${KORVELO_CATALOGUE_DIR}/locale/${language}/LC_MESSAGES/korvelo-converter.mo)
  # --check: a translation whose placeholders differ from the English text fails the build.
  add_custom_command(OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVELO_CATALOGUE_DIR}/locale/${language}/LC_MESSAGES
    COMMAND ${MSGFMT_PROGRAM} --check -o ${mo} ${PROJECT_SOURCE_DIR}/po/${language}.po
    DEPENDS ${PROJECT_SOURCE_DIR}/po/${language}.po VERBATIM)
  list(APPEND KORVELO_MO_FILES ${mo})
  install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
endforeach()
add_custom_target(korvelo_catalogues ALL DEPENDS ${KORVELO_MO_FILES})
# Built with the core, so that any program or test built finds them.
add_dependencies(korvelo_app korvelo_catalogues)
