# Checks that each layer includes only the layers below it:
#
#   cmake -DSOURCE_DIR=<project folder> -P tools/check_layers.cmake
#
# Prints one line per include that reaches up or sideways and fails, so a
# lower layer that starts to depend on a higher one breaks the test suite.

cmake_minimum_required(VERSION 3.25)

# Each layer and the layers of ours it may include.
set(allowed_store "")
set(allowed_toolkit "")
set(allowed_view "store;toolkit")
set(allowed_commands "store;toolkit;view")
set(allowed_app "store;toolkit;view;commands")
set(layers store toolkit view commands app)
set(ours store toolkit view commands app tools tests bench)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<folder> -P check_layers.cmake")
endif()

set(problems 0)
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" header "${line}")
      string(REGEX MATCH "^[^/]+" top "${header}")
      set(bad "")
      if(top IN_LIST ours AND NOT top STREQUAL layer AND NOT top IN_LIST allowed_${layer})
        set(bad "a layer it must not use")
      elseif(layer STREQUAL "store" AND header MATCHES "^Q")
        set(bad "Qt: the store knows nothing of it")
      elseif(layer STREQUAL "store" AND source MATCHES "\\.h$" AND header STREQUAL "sqlite3.h")
        set(bad "SQLite in a public header of the store")
      endif()
      if(bad)
        message("${source} includes ${header}: ${bad}")
        math(EXPR problems "${problems} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems GREATER 0)
  message(FATAL_ERROR "${problems} include(s) break the layering")
endif()
