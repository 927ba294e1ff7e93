# Installation (`make install`, `cmake --install`; DESTDIR honoured) and the Debian package
# (`make deb`, CPack; dpkg-shlibdeps derives its dependencies from the libraries the programs
# link). The top-level CMakeLists.txt includes this file after the programs are defined. What the
# build generates for installation (demo pack, icons, compressed manual pages and changelog) is
# made by the target evg_install_files, which `make install` and `make deb` build instead of all.
include(GNUInstallDirs)

# The package's maintainer, "Name <address>": by default Debian's DEBFULLNAME and DEBEMAIL, as
# the Debian packaging tools read them, else the project's address; or
# `cmake -DEVG_MAINTAINER="Name <address>"` (`make deb MAINTAINER=...`).
set(EVG_MAINTAINER_DEFAULT "Evergreen developers <evergreen@example.org>")
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(EVG_MAINTAINER_DEFAULT "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
endif()
set(EVG_MAINTAINER "${EVG_MAINTAINER_DEFAULT}" CACHE STRING "Maintainer of the Debian package: Name <address>")
if(NOT EVG_MAINTAINER MATCHES "^[^<>@]+ <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$")
  message(FATAL_ERROR "EVG_MAINTAINER must read \"Name <user@host.domain>\", not \"${EVG_MAINTAINER}\"")
endif()
# The Debian revision: raise it for a new package of the same program version.
set(EVG_DEB_RELEASE 1)
set(EVG_DEB_VERSION "${PROJECT_VERSION}-${EVG_DEB_RELEASE}")

set(EVG_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
file(MAKE_DIRECTORY ${EVG_DIST_DIR}/icons ${CMAKE_BINARY_DIR}/share/evergreen)

# A copy of `source` at `plain`, compressed to `plain`.gz the way Debian wants it: best
# compression, no name or time stamp in the header, so the bytes do not depend on the build.
function(evg_gzip source plain)
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND gzip -9nf ${plain}
    DEPENDS ${source} VERBATIM)
endfunction()
evg_gzip(${CMAKE_SOURCE_DIR}/docs/man/evergreen.1 ${EVG_DIST_DIR}/evergreen.1)
evg_gzip(${CMAKE_SOURCE_DIR}/docs/man/evgpack.1 ${EVG_DIST_DIR}/evgpack.1)
configure_file(docs/debian/changelog.in ${CMAKE_BINARY_DIR}/changelog.Debian @ONLY)
evg_gzip(${CMAKE_BINARY_DIR}/changelog.Debian ${EVG_DIST_DIR}/changelog.Debian)

# The desktop icons, drawn from the built-in graphics (tools/icon).
set(EVG_ICON_EDGES 48 64 128 256)
set(EVG_ICONS ${EVG_DIST_DIR}/icons/evergreen.svg)
foreach(edge ${EVG_ICON_EDGES})
  list(APPEND EVG_ICONS ${EVG_DIST_DIR}/icons/evergreen-${edge}.png)
endforeach()
add_executable(evg_icon tools/icon/main.cpp)
target_link_libraries(evg_icon PRIVATE evg_media)
add_custom_command(OUTPUT ${EVG_ICONS} COMMAND evg_icon ${EVG_DIST_DIR}/icons DEPENDS evg_icon VERBATIM)

# The demo pack, installed for the viewer to copy into a new user's data folder; `make run`
# shows it too. Built under share/evergreen as it is installed.
set(EVG_DEMO_PACK ${CMAKE_BINARY_DIR}/share/evergreen/Default.evg)
add_custom_command(OUTPUT ${EVG_DEMO_PACK}
  COMMAND evgpack demo -o ${EVG_DEMO_PACK} DEPENDS evgpack VERBATIM)
add_custom_target(evg_demo_pack ALL DEPENDS ${EVG_DEMO_PACK})

add_custom_target(evg_install_files ALL DEPENDS ${EVG_ICONS} ${EVG_DIST_DIR}/evergreen.1.gz
  ${EVG_DIST_DIR}/evgpack.1.gz ${EVG_DIST_DIR}/changelog.Debian.gz)
add_dependencies(evg_install_files evergreen evgpack evg_demo_pack)

install(TARGETS evergreen evgpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (`--strip`, the package) also drops the compiler's .comment and .note
# sections, which `strip` keeps and nothing at run time reads, as Debian's own packaging does.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program evergreen evgpack)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\" RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR \"cannot strip \${program}\")
      endif()
    endforeach()
  endif()")
install(FILES ${EVG_DIST_DIR}/evergreen.1.gz ${EVG_DIST_DIR}/evgpack.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/evergreen.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES docs/org.evergreen_viewer.evergreen.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(edge ${EVG_ICON_EDGES})
  install(FILES ${EVG_DIST_DIR}/icons/evergreen-${edge}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${edge}x${edge}/apps RENAME evergreen.png)
endforeach()
install(FILES ${EVG_DIST_DIR}/icons/evergreen.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${EVG_DEMO_PACK} DESTINATION ${CMAKE_INSTALL_DATADIR}/evergreen)
install(FILES docs/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME evergreen)
install(FILES README.md docs/debian/copyright ${EVG_DIST_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME evergreen)
set(CPACK_PACKAGE_CONTACT "${EVG_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photo-mosaic zoomer and its pack builder")
set(CPACK_PACKAGE_DESCRIPTION "Zoom into a picture until every pixel is a tile showing another picture,\n\
without end. evgpack turns a folder of photos into an image pack.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${EVG_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
