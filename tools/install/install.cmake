# Installing like a desktop program: `cmake --install build` (into ~/.local
# unless a prefix is given) puts the program, the companion tool and the
# pictures in a folder of their own, PREFIX/lib/branchkeeper, where the
# program also keeps its store; launchers on the PATH, a desktop entry and the
# icon go to their freedesktop places. The store is made only where there is
# none: reinstalling or upgrading never replaces the user's dbPro.mdb.

set(BRANCHKEEPER_HOME lib/branchkeeper)
set(install_sources ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS branchkeeper branchkeeper-store RUNTIME DESTINATION ${BRANCHKEEPER_HOME})
install(DIRECTORY ${BRANCHKEEPER_RUNTIME_DIR}/pic1 ${BRANCHKEEPER_RUNTIME_DIR}/pic2
        DESTINATION ${BRANCHKEEPER_HOME})
install(FILES ${CMAKE_BINARY_DIR}/share/branchkeeper.png DESTINATION share/icons/hicolor/32x32/apps)

foreach(program branchkeeper branchkeeper-store)
  set(PROGRAM ${program})
  configure_file(${install_sources}/launcher.in ${CMAKE_BINARY_DIR}/share/launchers/${program} @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/share/launchers/${program} DESTINATION bin)
endforeach()
install(PROGRAMS ${install_sources}/uninstall.in DESTINATION ${BRANCHKEEPER_HOME} RENAME uninstall)

# Made at install time, when the prefix is known: the desktop entry names the
# launcher by its full path, and the store is made only where none is.
install(CODE "
  set(prefix \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(READ \"${install_sources}/branchkeeper.desktop.in\" entry)
  string(REPLACE \"@LAUNCHER@\" \"\${CMAKE_INSTALL_PREFIX}/bin/branchkeeper\" entry \"\${entry}\")
  file(MAKE_DIRECTORY \"\${prefix}/share/applications\")
  file(WRITE \"\${prefix}/share/applications/branchkeeper.desktop\" \"\${entry}\")
  message(STATUS \"Installing: \${prefix}/share/applications/branchkeeper.desktop\")
  set(store \"\${prefix}/${BRANCHKEEPER_HOME}/dbPro.mdb\")
  if(EXISTS \"\${store}\")
    message(STATUS \"Keeping your store: \${store}\")
  else()
    execute_process(COMMAND \"$<TARGET_FILE:branchkeeper-store>\" new \"\${store}\" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"cannot make the store \${store}\")
    endif()
    message(STATUS \"Installing: \${store} (a new, empty store)\")
  endif()
")
