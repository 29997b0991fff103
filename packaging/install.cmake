# Install rules and the Debian package (CPack).
#   cmake --install build [--prefix DIR]   the controller, pictures, fonts, unit, docs
#   cd build && cpack -G DEB               helix_<version>_<arch>.deb and the
#                                          debug symbols, helix-dbgsym_<version>_<arch>.ddeb
include(GNUInstallDirs)

install(TARGETS helix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The panel pictures, drawn at build time; the unit's working directory.
if(HELIX_PICTURE_FILES)
  install(FILES ${HELIX_PICTURE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/helix)
endif()

# Links to the two PT Sans faces (Debian's fonts-paratype) under the names the
# controller loads from /opt/fonts: relative when installed under /usr (the
# package), where the fonts are, else absolute.
install(CODE "
  set(fonts \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/helix/fonts\")
  file(MAKE_DIRECTORY \"\${fonts}\")
  foreach(face PTS55F PTS75F)
    set(target /usr/share/fonts/truetype/paratype/\${face}.ttf)
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      file(RELATIVE_PATH target /usr/${CMAKE_INSTALL_DATADIR}/helix/fonts \${target})
    endif()
    message(STATUS \"Installing: \${fonts}/\${face}_W.ttf -> \${target}\")
    file(CREATE_LINK \${target} \"\${fonts}/\${face}_W.ttf\" SYMBOLIC)
  endforeach()
")

# The systemd unit points at the paths of the prefix actually installed to
# (cmake --install --prefix, or the package's /usr), so it is written at
# install time.
install(CODE "
  set(HELIX_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(HELIX_DATADIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/helix\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/helix.service.in\"
                 \"${CMAKE_BINARY_DIR}/helix.service\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/helix.service DESTINATION lib/systemd/system)

# Documentation: the README and docs/, the copyright file, the changelog and
# the manual page (the last two compressed as Debian wants them). The
# changelog's latest entry must carry the version of VERSION.
set(HELIX_DOC ${CMAKE_INSTALL_DATADIR}/doc/helix)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${HELIX_DOC})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${HELIX_DOC}/docs)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${HELIX_DOC})
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog HELIX_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT HELIX_CHANGELOG_TOP MATCHES "^helix \\(${HELIX_VERSION}\\) ")
  message(FATAL_ERROR "VERSION says ${HELIX_VERSION}, but the latest entry of "
    "packaging/changelog is \"${HELIX_CHANGELOG_TOP}\": add an entry for ${HELIX_VERSION}")
endif()
# The manual page's date: the changelog's latest entry.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog HELIX_CHANGELOG_DATE REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE ".*, ([0-9]+) ([A-Za-z]+) ([0-9]+) .*" "\\1 \\2 \\3" HELIX_MAN_DATE
  "${HELIX_CHANGELOG_DATE}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_SOURCE_DIR}/packaging/helix.8.in)
configure_file(${CMAKE_SOURCE_DIR}/packaging/helix.8.in ${CMAKE_BINARY_DIR}/deb/helix.8 @ONLY)
foreach(doc deb/helix.8 changelog)
  get_filename_component(name ${doc} NAME)
  if(doc STREQUAL "changelog")
    set(src ${CMAKE_SOURCE_DIR}/packaging/changelog)
  else()
    set(src ${CMAKE_BINARY_DIR}/${doc})
  endif()
  # -n: no name or time stamp, so the package is the same from build to build.
  execute_process(COMMAND gzip -9n -c ${src} OUTPUT_FILE ${CMAKE_BINARY_DIR}/deb/${name}.gz
    RESULT_VARIABLE gz)
  if(NOT gz EQUAL 0)
    message(FATAL_ERROR "gzip ${src} failed")
  endif()
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/deb/changelog.gz DESTINATION ${HELIX_DOC})
install(FILES ${CMAKE_BINARY_DIR}/deb/helix.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

# Debian package, for the architecture being built.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(HELIX_DEB_ARCH arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(HELIX_DEB_ARCH armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(HELIX_DEB_ARCH amd64)
else()
  set(HELIX_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(HELIX_MAINTAINER
    "Seed 6f138b28 maintainers <maintainers@users.noreply.c-seed-6f138b28.example>"
    CACHE STRING "the package's Maintainer field (also in packaging/changelog)")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME helix)
set(CPACK_PACKAGE_VERSION ${HELIX_VERSION})
set(CPACK_PACKAGE_CONTACT ${HELIX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "controller of an HF linear amplifier with automatic antenna tuner")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${CMAKE_SOURCE_DIR}/packaging/description)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HELIX_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The program is stripped; its debug symbols go to helix-dbgsym (found by
# build id), built alongside, with the binutils of the target (a cross build's
# own objcopy and readelf).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_OBJCOPY_EXECUTABLE ${CMAKE_OBJCOPY})
set(CPACK_READELF_EXECUTABLE ${CMAKE_READELF})
# The libraries the controller links (Debian bookworm's packages of them), the
# fonts it draws with, and the programs it runs: mount for every save under
# /opt/set; the screenshot (fbgrab, from fbcat), the sound device check
# (lsusb) and the network pages (ifdown/ifup through sudo) only for those
# features. Listed rather than found by dpkg-shlibdeps, which would need the
# target's binutils in a cross build.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0), libfreetype6 (>= 2.2.1), libpng16-16 (>= 1.6.2), libusb-1.0-0 (>= 2:1.0.16), libssl3 (>= 3.0.0), libglib2.0-0 (>= 2.74), libasound2 (>= 1.0.16), libopus0 (>= 1.1), libsystemd0, fonts-dejavu-core, fonts-paratype, mount")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fbcat, usbutils, ifupdown, sudo")
set(HELIX_DATADIR /usr/${CMAKE_INSTALL_DATADIR}/helix)
set(HELIX_DEB_SCRIPTS "")
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/${script} ${CMAKE_BINARY_DIR}/deb/${script} @ONLY)
  list(APPEND HELIX_DEB_SCRIPTS ${CMAKE_BINARY_DIR}/deb/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${HELIX_DEB_SCRIPTS})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
