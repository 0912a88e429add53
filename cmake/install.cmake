# What `cmake --install` puts where, and the packages CPack makes from the
# same rules: a Debian package on Linux, a zip on Windows.  Tests and their
# data are never installed.
include(GNUInstallDirs)

set(agg_installed_programs aggwhite aggradial aggorder aggsim)
if(TARGET aggbench)
  list(APPEND agg_installed_programs aggbench)
endif()

# aggbench measures the live window with aggbench_x11, a helper that no one
# starts by hand: it lives off the PATH in lib/aggregation, where aggbench
# looks for it (after its own folder, which is where the build tree has it).
set(agg_helper_dir lib/${PROJECT_NAME})
if(TARGET agg_bench_args AND NOT WIN32)
  file(RELATIVE_PATH agg_helper_from_bin /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${agg_helper_dir})
  target_compile_definitions(agg_bench_args PRIVATE AGG_HELPER_FROM_BIN="${agg_helper_from_bin}")
endif()

# The maintainer named in the package and its changelog.
set(agg_maintainer "Aggregation developers <aggregation@users.noreply.github.com>")

if(WIN32)
  # The zip holds the programs, a note on starting them and the licence,
  # side by side.
  install(TARGETS ${agg_installed_programs} RUNTIME DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/docs/windows/README.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
  # The manual pages as text, for a system without man (Debian's groff-base
  # renders them at build time).
  find_program(AGG_GROFF groff)
  if(NOT AGG_GROFF)
    message(FATAL_ERROR "groff renders the manual for the Windows zip: install groff-base")
  endif()
  set(agg_man_pages aggwhite aggsim aggbench)
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
  if(TARGET aggbench_x11)
    install(TARGETS aggbench_x11 RUNTIME DESTINATION ${agg_helper_dir})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The README links to the guides, its film and its screenshot by relative
  # paths, kept beside it.
  file(GLOB agg_guides CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
  install(FILES ${agg_guides} ${PROJECT_SOURCE_DIR}/docs/film.gif ${PROJECT_SOURCE_DIR}/docs/window.png
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

  # Manual pages, gzipped as Debian wants them (man reads them either way);
  # aggradial's and aggorder's are links to aggwhite's, which describes all
  # three, so that `man -l` on any of them opens from anywhere.
  set(agg_man_dir ${CMAKE_BINARY_DIR}/man)
  set(agg_man_pages)
  foreach(page aggwhite aggsim aggbench)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
    add_custom_command(OUTPUT ${agg_man_dir}/${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${agg_man_dir}
      COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" gzip ${source} ${agg_man_dir}/${page}.1.gz
      DEPENDS ${source} VERBATIM)
    list(APPEND agg_man_pages ${agg_man_dir}/${page}.1.gz)
  endforeach()
  file(MAKE_DIRECTORY ${agg_man_dir})
  foreach(page aggradial aggorder)
    file(CREATE_LINK aggwhite.1.gz ${agg_man_dir}/${page}.1.gz SYMBOLIC)
    list(APPEND agg_man_pages ${agg_man_dir}/${page}.1.gz)
  endforeach()

  # The Debian package's documents, made from CHANGELOG.md and LICENSE.
  set(agg_debian_dir ${CMAKE_BINARY_DIR}/debian)
  set(agg_debian_revision 1)
  add_custom_command(
    OUTPUT ${agg_debian_dir}/changelog.Debian.gz ${agg_debian_dir}/changelog.gz ${agg_debian_dir}/copyright
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/debian-docs.sh ${PROJECT_SOURCE_DIR}/CHANGELOG.md
            ${PROJECT_SOURCE_DIR}/LICENSE ${agg_debian_dir} ${PROJECT_NAME} ${agg_debian_revision} ${agg_maintainer}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian-docs.sh ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE
    VERBATIM)
  add_custom_target(agg_docs ALL DEPENDS ${agg_man_pages} ${agg_debian_dir}/changelog.Debian.gz)
  install(FILES ${agg_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # A prefix of one's own gets the licence and the changelog as they are;
  # the Debian package gets them in Debian's forms instead, with the
  # lintian overrides (cmake/lintian-overrides).
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT plain)
  install(FILES ${agg_debian_dir}/copyright ${agg_debian_dir}/changelog.Debian.gz ${agg_debian_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME ${PROJECT_NAME} COMPONENT debian EXCLUDE_FROM_ALL)

  # Removes what the last `cmake --install` of this build put in place.
  add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt -DPACKAGE=${PROJECT_NAME}
            -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
    VERBATIM)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "the aggregation developers")
set(CPACK_PACKAGE_CONTACT "${agg_maintainer}")
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
  # Not a native Debian package: its changelog is changelog.Debian.gz, the
  # project's own is changelog.gz.
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${agg_debian_revision})
  # One package of every install rule without a component of its own
  # (Unspecified) and of the Debian documents, but not of the plain
  # install's LICENSE and CHANGELOG.md.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  # The shared libraries the programs link, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A cross build is packaged for the processor it was built for, not for
  # the build machine's (which dpkg would report).
  if(CMAKE_CROSSCOMPILING)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
    else()
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
    endif()
  endif()
endif()
include(CPack)
