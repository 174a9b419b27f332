# Run by "cmake --install": the installed manual page names the folder it
# was installed under (the string Pf of the page), whatever --prefix says.
# MALHA_MANUAL_PAGE is the page's installed path, relative to the prefix.
set(page "${MALHA_MANUAL_PAGE}")
if(NOT IS_ABSOLUTE "${page}")
  set(page "${CMAKE_INSTALL_PREFIX}/${page}")
endif()
set(page "$ENV{DESTDIR}${page}")
file(READ "${page}" text)
# A backslash starts an escape in a manual page; \e prints one.
string(REPLACE "\\" "\\e" prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "\n\\.ds Pf [^\n]*\n" "\n.ds Pf ${prefix}\n" text "${text}")
file(WRITE "${page}" "${text}")
