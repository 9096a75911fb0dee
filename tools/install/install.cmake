# Installing like a desktop program: `cmake --install build` (into ~/.local
# unless a prefix is given) puts the program, the companion tool and the
# pictures in a folder of their own, PREFIX/lib/branchkeeper, where the
# program also keeps its store; launchers on the PATH, a desktop entry and the
# icon go to their freedesktop places. The store is made only where there is
# none: reinstalling or upgrading never replaces the user's dbPro.mdb.

set(BRANCHKEEPER_HOME lib/branchkeeper)
set(install_sources ${CMAKE_CURRENT_LIST_DIR})

# What needs the prefix runs at install time, in at_install.cmake: first,
# before any file is placed, whether the install can go ahead over what is
# there; last, the files that name the prefix, and the store.
set(at_install "
  set(BRANCHKEEPER_HOME [==[${BRANCHKEEPER_HOME}]==])
  set(BRANCHKEEPER_STORE_TOOL [==[$<TARGET_FILE:branchkeeper-store>]==])
  set(BRANCHKEEPER_RUNTIME_DIR [==[${BRANCHKEEPER_RUNTIME_DIR}]==])
  set(BRANCHKEEPER_INSTALL_SOURCES [==[${install_sources}]==])
  include([==[${install_sources}/at_install.cmake]==])")
install(CODE "set(BRANCHKEEPER_INSTALL_STEP check)${at_install}")

install(TARGETS branchkeeper branchkeeper-store RUNTIME DESTINATION ${BRANCHKEEPER_HOME})
install(DIRECTORY ${BRANCHKEEPER_RUNTIME_DIR}/pic1 ${BRANCHKEEPER_RUNTIME_DIR}/pic2
        DESTINATION ${BRANCHKEEPER_HOME})
install(FILES ${CMAKE_BINARY_DIR}/share/branchkeeper.png DESTINATION share/icons/hicolor/32x32/apps)

foreach(program branchkeeper branchkeeper-store)
  set(PROGRAM ${program})
  configure_file(${install_sources}/launcher.in ${CMAKE_BINARY_DIR}/share/launchers/${program} @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/share/launchers/${program} DESTINATION bin)
endforeach()

install(CODE "set(BRANCHKEEPER_INSTALL_STEP finish)${at_install}")
