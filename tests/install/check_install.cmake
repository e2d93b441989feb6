# Installs the built tree into a fresh temporary prefix and checks the result as a desktop would see
# it: the program folder with its shipped files, the programs on the PATH, the desktop entry, icon and
# metainfo passing their validators, and the installed renderer starting and finding its profiles.
#
#   cmake -DBUILD_DIR=<build tree> -DWORK_DIR=<scratch folder> -DVERSION=<x.y.z> -P check_install.cmake

foreach(required BUILD_DIR WORK_DIR VERSION)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "${required} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

function(expect_file path)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endfunction()

set(program_folder lib/kestrelle)
expect_file(${program_folder}/kestrelle)
expect_file(${program_folder}/kestrelle-render)
expect_file(${program_folder}/help/index.html)
expect_file("${program_folder}/Profile/Normal Quality(.avi).ipf")
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../../resources/finish.wav)
  expect_file(${program_folder}/finish.wav)
endif()
set(desktop_file share/applications/org.example.Kestrelle.desktop)
set(metainfo_file share/metainfo/org.example.Kestrelle.metainfo.xml)
expect_file(${desktop_file})
expect_file(${metainfo_file})
expect_file(share/icons/hicolor/scalable/apps/org.example.Kestrelle.svg)
set(mime_file share/mime/packages/org.example.Kestrelle.xml)
expect_file(${mime_file})

# The desktop entry opens the project file type the MIME package declares.
file(READ ${prefix}/${desktop_file} desktop_entry)
if(NOT desktop_entry MATCHES "\nMimeType=application/x-kestrelle;" OR NOT desktop_entry MATCHES "\nExec=kestrelle %f")
  message(FATAL_ERROR "the desktop entry does not open application/x-kestrelle files")
endif()
file(READ ${prefix}/${mime_file} mime_package)
if(NOT mime_package MATCHES "<mime-type type=\"application/x-kestrelle\">" OR
   NOT mime_package MATCHES "<glob pattern=\"\\*\\.kestrelle\"/>")
  message(FATAL_ERROR "the MIME package does not declare *.kestrelle as application/x-kestrelle")
endif()
# shared-mime-info's own tool reads the package (when installed): a broken one would fail here.
find_program(update_mime_database update-mime-database)
if(update_mime_database)
  file(COPY ${prefix}/${mime_file} DESTINATION ${WORK_DIR}/mime/packages)
  execute_process(COMMAND ${update_mime_database} ${WORK_DIR}/mime
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR output MATCHES "[Ee]rror|[Ww]arning")
    message(FATAL_ERROR "update-mime-database (${result}):\n${output}")
  endif()
  file(STRINGS ${WORK_DIR}/mime/globs2 globs REGEX "application/x-kestrelle:\\*\\.kestrelle")
  if(NOT globs)
    message(FATAL_ERROR "update-mime-database did not take the *.kestrelle glob")
  endif()
endif()

# The programs on the PATH are links into the program folder.
foreach(program kestrelle kestrelle-render)
  if(NOT IS_SYMLINK ${prefix}/bin/${program})
    message(FATAL_ERROR "bin/${program} is not a link into the program folder")
  endif()
  file(REAL_PATH ${prefix}/bin/${program} target)
  file(REAL_PATH ${prefix}/${program_folder}/${program} expected)
  if(NOT target STREQUAL expected)
    message(FATAL_ERROR "bin/${program} leads to ${target}, not ${expected}")
  endif()
endforeach()

# The validators of the desktop entry and the metainfo.
find_program(desktop_file_validate desktop-file-validate)
find_program(appstreamcli appstreamcli)
if(NOT desktop_file_validate OR NOT appstreamcli)
  message(FATAL_ERROR "desktop-file-validate and appstreamcli are needed (scripts/install-deps.sh)")
endif()
execute_process(COMMAND ${desktop_file_validate} ${prefix}/${desktop_file}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate (${result}):\n${output}")
endif()
execute_process(COMMAND ${appstreamcli} validate --no-net ${prefix}/${metainfo_file}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate (${result}):\n${output}")
endif()
file(READ ${prefix}/${metainfo_file} metainfo)
if(NOT metainfo MATCHES "<release version=\"${VERSION}\"")
  message(FATAL_ERROR "the metainfo does not name release ${VERSION}")
endif()

# The installed renderer, started through the PATH, reports the version of this build.
set(ENV{PATH} "${prefix}/bin:$ENV{PATH}")
execute_process(COMMAND kestrelle-render --version
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT output STREQUAL "kestrelle-render ${VERSION}\n")
  message(FATAL_ERROR "kestrelle-render --version gave ${result}: '${output}' '${errors}'")
endif()

# Started on an empty folder in a private home, it copies the shipped profiles from beside itself
# (found through the link) into the user's profile folder, then refuses the empty folder.
set(home ${WORK_DIR}/home)
file(MAKE_DIRECTORY ${home}/empty)
set(ENV{HOME} ${home})
set(ENV{XDG_DATA_HOME} ${home}/share)
set(ENV{XDG_CONFIG_HOME} ${home}/config)
execute_process(COMMAND kestrelle-render ${home}/empty -o ${home}/out.avi
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(result EQUAL 0)
  message(FATAL_ERROR "kestrelle-render accepted a folder without photos")
endif()
if(NOT EXISTS "${home}/share/Brightmoor/Kestrelle/Profile/Normal Quality(.avi).ipf")
  message(FATAL_ERROR "the installed renderer did not find its shipped profiles: ${errors}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "installed layout, validators and kestrelle-render ${VERSION}: all good")
