# What `cmake --install` puts where, and the packages CPack makes from the
# same rules: a Debian package on Linux, a zip on Windows.  Tests and their
# data are never installed.
include(GNUInstallDirs)

# aggbench measures the live window in aggbench_x11, which it starts from
# beside itself, so the two go to the same directory.
set(agg_installed_programs aggwhite aggradial aggorder aggsim)
foreach(optional aggbench aggbench_x11)
  if(TARGET ${optional})
    list(APPEND agg_installed_programs ${optional})
  endif()
endforeach()

if(WIN32)
  # The zip holds the programs and a note on starting them, side by side.
  install(TARGETS ${agg_installed_programs} RUNTIME DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/docs/windows/README.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
  # The manual pages as text, for a system without man (Debian's groff-base
  # renders them at build time).
  find_program(AGG_GROFF groff)
  if(NOT AGG_GROFF)
    message(FATAL_ERROR "groff renders the manual for the Windows zip: install groff-base")
  endif()
  set(agg_man_pages aggwhite aggradial aggorder aggsim aggbench)
  list(TRANSFORM agg_man_pages PREPEND ${PROJECT_SOURCE_DIR}/docs/man/)
  list(TRANSFORM agg_man_pages APPEND .1)
  # A list would split into arguments on its way through the build tool.
  string(JOIN "|" agg_man_page_arg ${agg_man_pages})
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/MANUAL.txt
                     COMMAND ${CMAKE_COMMAND} -DGROFF=${AGG_GROFF} -DOUT=${CMAKE_BINARY_DIR}/MANUAL.txt
                             -DPAGES=${agg_man_page_arg} -P ${PROJECT_SOURCE_DIR}/cmake/manual.cmake
                     DEPENDS ${agg_man_pages} ${PROJECT_SOURCE_DIR}/cmake/manual.cmake
                     COMMENT "Rendering the manual pages into MANUAL.txt" VERBATIM)
  add_custom_target(manual_text ALL DEPENDS ${CMAKE_BINARY_DIR}/MANUAL.txt)
  install(FILES ${CMAKE_BINARY_DIR}/MANUAL.txt DESTINATION .)
else()
  install(TARGETS ${agg_installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The README shows this film by a relative link.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/growth.gif DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  install(FILES
    ${PROJECT_SOURCE_DIR}/docs/man/aggwhite.1
    ${PROJECT_SOURCE_DIR}/docs/man/aggradial.1
    ${PROJECT_SOURCE_DIR}/docs/man/aggorder.1
    ${PROJECT_SOURCE_DIR}/docs/man/aggsim.1
    ${PROJECT_SOURCE_DIR}/docs/man/aggbench.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "the aggregation developers")
set(CPACK_PACKAGE_CONTACT "aggregation developers <aggregation@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diffusion-limited aggregation, grown live in a window")
# Debian wants the long description on lines of at most 80 columns.
set(CPACK_PACKAGE_DESCRIPTION "Three programs (aggwhite, aggradial, aggorder) grow a diffusion-limited
aggregate in a 256-colour X11 window until a key is pressed in the terminal,
colouring its particles white, by distance from the seed or by order of
arrival. aggsim runs the same code without a window, reproducibly from a seed,
and writes the picture, the particles and figures about the aggregate;
aggbench measures the random walk.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # The shared libraries the programs link, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
