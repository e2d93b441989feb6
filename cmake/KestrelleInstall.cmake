# Installing like a desktop program: the executables and the files they expect beside them (Profile/,
# finish.wav, help/) in one program folder, the two programs on the PATH through links into it, and the
# desktop entry, the icon, the project file type and the AppStream metainfo where desktops look for them.
include(GNUInstallDirs)

set(KESTRELLE_INSTALL_PROGRAM_DIR "lib/kestrelle" CACHE STRING
  "Program folder below the install prefix (the executables with their shipped files)")
set(KESTRELLE_APP_ID "org.example.Kestrelle")
set(desktop_sources ${PROJECT_SOURCE_DIR}/resources/desktop)

install(TARGETS kestrelle kestrelle-render RUNTIME DESTINATION ${KESTRELLE_INSTALL_PROGRAM_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/Profile ${PROJECT_SOURCE_DIR}/resources/help
  DESTINATION ${KESTRELLE_INSTALL_PROGRAM_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/finish.wav DESTINATION ${KESTRELLE_INSTALL_PROGRAM_DIR} OPTIONAL)

# The programs find their shipped files through their own (resolved) path, so links on the PATH work.
file(RELATIVE_PATH link_to_program_folder /${CMAKE_INSTALL_BINDIR} /${KESTRELLE_INSTALL_PROGRAM_DIR})
foreach(program kestrelle kestrelle-render)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${link_to_program_folder}/${program}\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Installing: \${link}\")")
endforeach()

install(FILES ${desktop_sources}/${KESTRELLE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The project file's type (application/x-kestrelle, *.kestrelle), which the desktop entry opens.
install(FILES ${desktop_sources}/${KESTRELLE_APP_ID}.mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
  RENAME ${KESTRELLE_APP_ID}.xml)
install(FILES ${desktop_sources}/${KESTRELLE_APP_ID}.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
configure_file(${desktop_sources}/${KESTRELLE_APP_ID}.metainfo.xml
  ${CMAKE_CURRENT_BINARY_DIR}/${KESTRELLE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${KESTRELLE_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
