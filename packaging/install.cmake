# Install rules and the Debian package (CPack).
#   cmake --install build [--prefix DIR]   the controller, pictures, fonts, unit, docs
#   cd build && cpack -G DEB               helix_<version>_<arch>.deb
include(GNUInstallDirs)

install(TARGETS helix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The panel pictures, drawn at build time; the unit's working directory.
if(HELIX_PICTURE_FILES)
  install(FILES ${HELIX_PICTURE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/helix)
endif()

# Links to the two PT Sans faces (Debian's fonts-paratype) under the names the
# controller loads from /opt/fonts.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fonts)
foreach(face PTS55F PTS75F)
  file(CREATE_LINK /usr/share/fonts/truetype/paratype/${face}.ttf
       ${CMAKE_BINARY_DIR}/fonts/${face}_W.ttf SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/fonts/${face}_W.ttf
          DESTINATION ${CMAKE_INSTALL_DATADIR}/helix/fonts)
endforeach()

# The systemd unit points at the paths of the prefix actually installed to
# (cmake --install --prefix, or the package's /usr), so it is written at
# install time.
install(CODE "
  set(HELIX_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(HELIX_DATADIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/helix\")
  set(HELIX_DOCDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/helix\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/helix.service.in\"
                 \"${CMAKE_BINARY_DIR}/helix.service\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/helix.service DESTINATION lib/systemd/system)

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/helix)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/helix/docs)

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
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME helix)
set(CPACK_PACKAGE_VERSION ${HELIX_VERSION})
set(CPACK_PACKAGE_CONTACT "HELIX amplifier-controller team <helix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "controller of an HF linear amplifier with automatic antenna tuner")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HELIX_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
# The libraries the controller links (Debian bookworm's packages of them) and
# the fonts it draws with. Listed rather than found by dpkg-shlibdeps, which
# would need the target's binutils in a cross build.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0), libfreetype6 (>= 2.2.1), libpng16-16 (>= 1.6.2), libusb-1.0-0 (>= 2:1.0.16), libssl3 (>= 3.0.0), libglib2.0-0 (>= 2.74), libasound2 (>= 1.0.16), libopus0 (>= 1.1), fonts-dejavu-core, fonts-paratype")
set(HELIX_DATADIR /usr/${CMAKE_INSTALL_DATADIR}/helix)
configure_file(${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_BINARY_DIR}/deb/postinst @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/postrm ${CMAKE_BINARY_DIR}/deb/postrm @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deb/postinst ${CMAKE_BINARY_DIR}/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
