# Settings every Kestrelle target shares: the language standard, warnings and Qt's safety defines.
add_library(kestrelle_defaults INTERFACE)
target_compile_features(kestrelle_defaults INTERFACE cxx_std_20)
target_compile_options(kestrelle_defaults INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  -Wold-style-cast)
target_compile_definitions(kestrelle_defaults INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_FOREACH
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_KEYWORDS)
target_include_directories(kestrelle_defaults INTERFACE ${PROJECT_SOURCE_DIR})
if(KESTRELLE_SANITIZE)
  target_compile_options(kestrelle_defaults INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(kestrelle_defaults INTERFACE -fsanitize=address,undefined)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/KestrelleLayers.cmake)

# kestrelle_core_library(<name> [LIBS ...]): a static library from the .cpp files of the calling folder
# (not its sub-folders). Windows live in a ui/ sub-folder with a library of their own.
function(kestrelle_core_library name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  kestrelle_check_links(${folder} ${ARG_LIBS})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC kestrelle_defaults ${ARG_LIBS})
endfunction()

# kestrelle_ui_library(<name> [LIBS ...]): the widget library of the calling folder's ui/ sub-folder.
function(kestrelle_ui_library name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  kestrelle_check_links(${folder}/ui ${ARG_LIBS})
  # Headers are listed too, so that moc sees every Q_OBJECT class even in an existing build folder.
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.h)
  add_library(${name} STATIC ${sources})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PUBLIC kestrelle_defaults Qt6::Widgets ${ARG_LIBS})
endfunction()
