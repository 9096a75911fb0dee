# The install steps that need the prefix, run by `cmake --install` through
# the rules in install.cmake. BRANCHKEEPER_INSTALL_STEP is `check` before any
# file is placed: an install that would not leave a store the program can
# open stops there, having changed nothing. It is `finish` after the files:
# the desktop entry and the uninstall script, which name the prefix, and the
# store where there is none. The store the user has is only ever read.

# A text as one word for sh: in single quotes, each ' closed, escaped and
# reopened.
function(bk_shell_word out text)
  string(REPLACE "'" "'\\''" text "${text}")
  set(${out} "'${text}'" PARENT_SCOPE)
endfunction()

# The value of an Exec key that runs PATH with no arguments: PATH as one
# argument in double quotes, inside which ", `, $ and \ take a backslash and
# % is doubled (a single one would start a field code); then the escapes of
# any string value, which double each backslash again.
function(bk_exec_value out path)
  string(REPLACE "\\" "\\\\" word "${path}")
  foreach(reserved "\"" "`" "$")
    string(REPLACE "${reserved}" "\\${reserved}" word "${word}")
  endforeach()
  string(REPLACE "%" "%%" word "${word}")
  set(command "\"${word}\"")
  # GLib looks for the program it names first before it turns %% into %, finds
  # no such file and will not load the entry: such a path goes to sh instead.
  if(path MATCHES "%")
    set(command "/bin/sh -c \"exec \\\"\\\$0\\\"\" ${command}")
  endif()
  string(REPLACE "\\" "\\\\" value "${command}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# A link whose target is missing: making the store through it would put the
# user's data wherever the link points.
function(bk_refuse_dangling_link store)
  if(IS_SYMLINK "${store}" AND NOT EXISTS "${store}")
    file(READ_SYMLINK "${store}" target)
    message(FATAL_ERROR "${store} is a symbolic link to ${target}, which does not exist. "
      "The install makes no store through a link: remove the link, or put your store "
      "where it points, and install again.")
  endif()
endfunction()

function(bk_check store)
  if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_PREFIX}")
    message(FATAL_ERROR "The prefix ${CMAKE_INSTALL_PREFIX} is not an absolute path: the "
      "desktop entry and the uninstall script name it. Give --prefix a full path.")
  endif()
  bk_refuse_dangling_link("${store}")
  if(NOT EXISTS "${store}")
    return()
  endif()
  # Only the tool knows a store from any other file; `check` opens it read only.
  execute_process(COMMAND "${BRANCHKEEPER_STORE_TOOL}" check "${store}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE problems ERROR_VARIABLE why)
  if(status STREQUAL "1")
    message(WARNING "${store} is kept as it is, but it has broken links; "
      "`branchkeeper-store check` lists them:\n${problems}")
  elseif(NOT status STREQUAL "0")
    string(REPLACE "branchkeeper-store: cannot read ${store}: " "" why "${why}")
    string(STRIP "${why}" why)
    if(NOT status MATCHES "^[0-9]+$")
      set(why "${BRANCHKEEPER_STORE_TOOL} did not run: ${status}")
    endif()
    message(FATAL_ERROR "${store} is not a store this program can open (${why}). "
      "It is left as it is, and nothing is installed. If it is your data, see what "
      "`branchkeeper-store check` says about it; otherwise move it out of the way "
      "and install again, which makes a new, empty store there.")
  endif()
endfunction()

function(bk_finish prefix home store)
  set(entry_path "${prefix}/share/applications/branchkeeper.desktop")
  bk_exec_value(exec "${CMAKE_INSTALL_PREFIX}/bin/branchkeeper")
  file(READ "${BRANCHKEEPER_INSTALL_SOURCES}/branchkeeper.desktop.in" entry)
  string(REPLACE "@EXEC@" "${exec}" entry "${entry}")
  file(MAKE_DIRECTORY "${prefix}/share/applications")
  file(REMOVE "${entry_path}")
  file(WRITE "${entry_path}" "${entry}")
  message(STATUS "Installing: ${entry_path}")

  # The uninstall script knows the prefix and each picture placed, and
  # removes nothing else.
  file(GLOB_RECURSE pictures LIST_DIRECTORIES false RELATIVE "${BRANCHKEEPER_RUNTIME_DIR}"
       "${BRANCHKEEPER_RUNTIME_DIR}/pic1/*" "${BRANCHKEEPER_RUNTIME_DIR}/pic2/*")
  list(SORT pictures)
  set(words "")
  foreach(picture IN LISTS pictures)
    bk_shell_word(word "${picture}")
    list(APPEND words "${word}")
  endforeach()
  list(JOIN words " \\\n    " words)
  bk_shell_word(prefix_word "${CMAKE_INSTALL_PREFIX}")
  file(READ "${BRANCHKEEPER_INSTALL_SOURCES}/uninstall.in" script)
  string(REPLACE "@PICTURES@" "${words}" script "${script}")
  string(REPLACE "@PREFIX@" "${prefix_word}" script "${script}")
  file(REMOVE "${home}/uninstall")
  file(WRITE "${home}/uninstall" "${script}")
  file(CHMOD "${home}/uninstall" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
       GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  message(STATUS "Installing: ${home}/uninstall")

  bk_refuse_dangling_link("${store}")
  if(EXISTS "${store}")
    message(STATUS "Keeping your store: ${store}")
    return()
  endif()
  # Born private under a tight umask, and the mode made sure of after.
  execute_process(COMMAND sh -c "umask 077 && exec \"$0\" new \"$1\"" "${BRANCHKEEPER_STORE_TOOL}" "${store}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot make the store ${store}")
  endif()
  file(CHMOD "${store}" PERMISSIONS OWNER_READ OWNER_WRITE)
  message(STATUS "Installing: ${store} (a new, empty store, readable by you alone)")
endfunction()

set(bk_prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
if(BRANCHKEEPER_INSTALL_STEP STREQUAL "check")
  bk_check("${bk_prefix}/${BRANCHKEEPER_HOME}/dbPro.mdb")
else()
  bk_finish("${bk_prefix}" "${bk_prefix}/${BRANCHKEEPER_HOME}" "${bk_prefix}/${BRANCHKEEPER_HOME}/dbPro.mdb")
endif()
