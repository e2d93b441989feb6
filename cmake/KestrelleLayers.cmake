# The layer order of Kestrelle's libraries, lowest first: the one place it is stated. A library may link
# and include only libraries that come before it here, and a core library (a folder not ending in /ui)
# no window library at all. Folders are named as in the source tree; each builds the library
# kestrelle_<folder with "/" as "_">.
#
#   base/    run log, data folder and paths, XML, text numbers, byte order, file replacement
#   media/   every byte of audio and video read or written: WAV, MP3, video encoders, AVI
#   config/ diag/ render/ project/ output/ preview/ app/   the cores, each with its windows beside it
#   app/main the executables
set(KESTRELLE_LAYERS
  base
  media
  config config/ui
  diag diag/ui
  render render/ui
  project project/ui
  output output/ui
  preview preview/ui
  app app/ui
  app/main)

# kestrelle_layer_allows(<folder> <used> <out>): whether `folder` may link or include `used`.
function(kestrelle_layer_allows folder used out)
  list(FIND KESTRELLE_LAYERS "${folder}" own)
  list(FIND KESTRELLE_LAYERS "${used}" other)
  set(allowed TRUE)
  if(own EQUAL -1 OR other EQUAL -1 OR other GREATER own)
    set(allowed FALSE)
  elseif(used MATCHES "/ui$" AND NOT folder MATCHES "/(ui|main)$")
    set(allowed FALSE)
  endif()
  set(${out} ${allowed} PARENT_SCOPE)
endfunction()

# kestrelle_layer_index(<folder> <out>): the position of `folder` in the order, -1 when it has none.
function(kestrelle_layer_index folder out)
  list(FIND KESTRELLE_LAYERS "${folder}" index)
  set(${out} ${index} PARENT_SCOPE)
endfunction()

# kestrelle_check_links(<folder> <libs...>): stops the configuration when `folder`'s library links a
# Kestrelle library of its own layer or a higher one.
function(kestrelle_check_links folder)
  kestrelle_layer_index("${folder}" own)
  if(own EQUAL -1)
    message(FATAL_ERROR "${folder}/ has no place in KESTRELLE_LAYERS (cmake/KestrelleLayers.cmake)")
  endif()
  foreach(lib ${ARGN})
    if(NOT lib MATCHES "^kestrelle_(.+)$" OR lib STREQUAL "kestrelle_defaults")
      continue()
    endif()
    string(REGEX REPLACE "_ui$" "/ui" used "${CMAKE_MATCH_1}")
    kestrelle_layer_allows("${folder}" "${used}" allowed)
    if(NOT allowed OR used STREQUAL folder)
      message(FATAL_ERROR "${folder}/ links ${lib}, which is not in a lower layer (cmake/KestrelleLayers.cmake)")
    endif()
  endforeach()
endfunction()
