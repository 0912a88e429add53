# Renders the manual pages into one plain-text file with CR LF line ends,
# for the Windows zip, whose readers have no man:
#   cmake -DGROFF=groff -DOUT=MANUAL.txt "-DPAGES=a.1|b.1" -P manual.cmake
# Plain ASCII without overstriking or colour, and no hyphenation, so that
# an option's name is never split across lines; 78 columns, as a console of
# 80 shows it.
string(REPLACE "|" ";" PAGES "${PAGES}")
set(text "")
foreach(page IN LISTS PAGES)
  # A page that only names another (".so") is that page: it comes once.
  file(STRINGS ${page} first LIMIT_COUNT 1)
  if(first MATCHES "^\\.so ")
    continue()
  endif()
  execute_process(COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u -rHY=0 ${page}
                  OUTPUT_VARIABLE rendered ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "groff could not render ${page}: ${errors}")
  endif()
  # The pages' trailing blank lines, then one page after another.
  string(REGEX REPLACE "\n+$" "\n" rendered "${rendered}")
  string(APPEND text "${rendered}\n\n")
endforeach()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
