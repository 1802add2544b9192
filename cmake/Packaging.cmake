# Packaging. Every install gets the manual pages; with PARLOTE_DEBIAN_PACKAGE (which
# scripts/package turns on, with the prefix /usr) the install also gets what a Debian
# package carries in /usr/share/doc/parlote, and `cpack` builds parlote_<version>_amd64.deb.
include(GNUInstallDirs)

set(PARLOTE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(PARLOTE_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)

# Compresses SOURCE into OUTPUT with `gzip -9n` (the best compression, and no file name or
# time in the header, so the same text always gives the same bytes), at configure time: the
# package build builds only the two programs, so nothing installed may need another target.
# A change to SOURCE configures again.
function(parlote_gzip source output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  get_filename_component(folder ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${output}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${source} failed (${status})")
  endif()
endfunction()

foreach(page parlote.1 parlote-cli.1)
  parlote_gzip(${PARLOTE_PACKAGING_DIR}/man/${page} ${PARLOTE_PACKAGING_OUT}/${page}.gz)
  install(FILES ${PARLOTE_PACKAGING_OUT}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

if(NOT PARLOTE_DEBIAN_PACKAGE)
  return()
endif()

# ---- the Debian package

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "PARLOTE_DEBIAN_PACKAGE needs -DCMAKE_INSTALL_PREFIX=/usr")
endif()

# The package's version is the project's plus the Debian revision of the changelog's top
# entry; a changelog that names another upstream version stops the configuration, so the
# two cannot drift apart.
set(changelog ${PARLOTE_PACKAGING_DIR}/debian/changelog)
file(STRINGS ${changelog} changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^parlote \\(([^-)]+)-([^)]+)\\) ")
  message(FATAL_ERROR "${changelog}: the first line is not 'parlote (VERSION-REVISION) ...'")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${changelog} is at ${CMAKE_MATCH_1}, the project at ${PROJECT_VERSION}: "
                      "add an entry for ${PROJECT_VERSION}")
endif()
set(PARLOTE_DEBIAN_REVISION ${CMAKE_MATCH_2})

set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/parlote)
parlote_gzip(${changelog} ${PARLOTE_PACKAGING_OUT}/changelog.Debian.gz)
install(FILES ${PARLOTE_PACKAGING_DIR}/debian/copyright
              ${PARLOTE_PACKAGING_OUT}/changelog.Debian.gz
        DESTINATION ${doc})
# The help page lives in share/parlote (the program reads it); the documentation folder
# points at it, as Debian asks of files that are both read by a program and documentation.
file(CREATE_LINK ../../parlote/help ${PARLOTE_PACKAGING_OUT}/help SYMBOLIC)
install(FILES ${PARLOTE_PACKAGING_OUT}/help DESTINATION ${doc})
# Lintian's tags that do not apply here, each with its reason.
install(FILES ${PARLOTE_PACKAGING_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME parlote)

set(PARLOTE_PACKAGE_MAINTAINER "The Parlote developers <parlote@users.noreply.github.com>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parlote)
set(CPACK_PACKAGE_VENDOR "The Parlote developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped by StripDebianPackage.cmake, as dh_strip would, not by CPACK_STRIP_FILES.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/StripDebianPackage.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop chat client for local language models (Ollama)")
# CPack indents these lines and turns the empty one into " ." for the control file.
set(CPACK_PACKAGE_DESCRIPTION
    "Parlote is a chat window for the large language models that run on this
computer under Ollama. Pick an installed model, type, and watch the reply
stream in as Markdown with lists, tables and code blocks. Conversations are
kept in a sidebar with titles the model writes and are stored as private
files in the user's data folder; a model manager installs models with live
progress and removes them.

The package also holds parlote-cli, which checks an Ollama server from the
command line through the same code. Ollama itself is not part of Debian and
is installed separately.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PARLOTE_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PARLOTE_PACKAGE_MAINTAINER})
# Debian files chat clients (Pidgin, HexChat, Quassel) under "net".
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/parlote/parlote)
# dpkg-shlibdeps names the libraries the programs link. What Qt loads as plugins it cannot
# see: the SVG image and icon engines that draw the window's icons are in libqt6svg6. The
# xcb platform plugin needs nothing more: on Debian 12 it is part of libqt6gui6 (the
# Recommends qt6-qpa-plugins holds only the VNC platform and a touch input plugin).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
