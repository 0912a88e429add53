# `cmake --build build --target uninstall`: removes every file and link that
# the last `cmake --install` of this build put in place, as its
# install_manifest.txt lists them, then the package's own folders
# (lib/aggregation, share/doc/aggregation and what is below them) where they
# are left empty.  Folders shared with other software (bin, share/man/man1)
# stay.
#   cmake -DMANIFEST=FILE -DPACKAGE=NAME -P uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "nothing to uninstall: ${MANIFEST} is missing (made by cmake --install)")
endif()
file(STRINGS "${MANIFEST}" files)
set(folders)
set(failed)
foreach(file IN LISTS files)
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
    if(EXISTS "${file}" OR IS_SYMLINK "${file}")
      list(APPEND failed "${file}")
    endif()
  endif()
  # Each folder of the file's path from the package's own folder down.
  get_filename_component(folder "${file}" DIRECTORY)
  while(folder MATCHES "/(lib|share/doc)/${PACKAGE}(/|$)")
    list(APPEND folders "${folder}")
    get_filename_component(folder "${folder}" DIRECTORY)
  endwhile()
endforeach()
# Deepest first, so that a folder is empty by the time it is tried.
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  file(GLOB left "${folder}/*" "${folder}/.*")
  if(IS_DIRECTORY "${folder}" AND NOT left)
    message(STATUS "Removing ${folder}/")
    file(REMOVE_RECURSE "${folder}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "could not remove: ${failed}")
endif()
