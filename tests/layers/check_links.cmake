# Run as a script (cmake -DFOLDER=<folder> -DLIBS=<libs> -P check_links.cmake): the link check that
# configuring applies to every library, on one library's links.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/KestrelleLayers.cmake)
kestrelle_check_links(${FOLDER} ${LIBS})
