# The Debian package "dimcore": `cpack -G DEB` in a build folder makes dimcore_<version>_<arch>.deb
# (scripts/package.sh builds it for this machine and for the arm64 board).
#
# Layout on the board:
#   /usr/bin/dimcore, dimctl, dimcore-scale-sim       the programs
#   /etc/dimcore/appconfig.toml, mock.png              configuration (conffiles)
#   /etc/default/dimcore                               the service's words and environment
#   /var/lib/dimcore                                   working folder, home of the user dimcore
#     configs  -> /etc/dimcore                         so ./configs/appconfig.toml resolves
#     exchange -> /run/dimcore                         exchange folder of the sample configuration
#   /lib/systemd/system/dimcore.service                the service (and its wait for the scale)
#   /usr/lib/tmpfiles.d/dimcore.conf                   makes /run/dimcore at boot
#   /usr/share/polkit-1/rules.d/60-dimcore.rules       lets the service power the board off
#   /usr/share/dimcore/examples/70-dimcore-scale.rules udev rule naming /dev/ttySCALES0 (a sample)
set(dimcore_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(dimcore_pkg_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${dimcore_pkg_out})

# Programs beside the station; their own folders may install them as well, which does no harm.
set(dimcore_packaged_programs dimcore)
foreach(program dimctl dimcore-scale-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
    list(APPEND dimcore_packaged_programs ${program})
  endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/configs/appconfig.toml ${PROJECT_SOURCE_DIR}/configs/mock.png
        DESTINATION /etc/dimcore)
install(FILES ${dimcore_pkg}/dimcore.default DESTINATION /etc/default RENAME dimcore)

# The working folder with its two links; made here so that they travel in the package as links.
file(CREATE_LINK /etc/dimcore ${dimcore_pkg_out}/configs SYMBOLIC)
file(CREATE_LINK /run/dimcore ${dimcore_pkg_out}/exchange SYMBOLIC)
install(DIRECTORY DESTINATION /var/lib/dimcore)
install(FILES ${dimcore_pkg_out}/configs ${dimcore_pkg_out}/exchange DESTINATION /var/lib/dimcore)

install(FILES ${dimcore_pkg}/dimcore.service DESTINATION /lib/systemd/system)
install(FILES ${dimcore_pkg}/dev-ttySCALES0.device.conf
        DESTINATION /lib/systemd/system/dev-ttySCALES0.device.d RENAME dimcore.conf)
install(FILES ${dimcore_pkg}/dimcore.tmpfiles DESTINATION /usr/lib/tmpfiles.d RENAME dimcore.conf)
install(FILES ${dimcore_pkg}/60-dimcore.rules DESTINATION /usr/share/polkit-1/rules.d)
install(FILES ${dimcore_pkg}/70-dimcore-scale.rules DESTINATION share/dimcore/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/dimcore)

# Every file under /etc is the administrator's once installed: upgrades keep local changes.
file(WRITE ${dimcore_pkg_out}/conffiles
     "/etc/dimcore/appconfig.toml\n/etc/dimcore/mock.png\n/etc/default/dimcore\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dimcore)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR dimcore)
set(CPACK_PACKAGE_CONTACT "dimcore maintainers <dimcore@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "parcel dimensioning and weighing station")
set(CPACK_PACKAGE_DESCRIPTION
    "The measuring core of an unattended parcel-dimensioning and weighing\n"
    "station: a depth camera looks down on a platform, a scale sits on a serial\n"
    "line, and clients drive the station through JSON request and response\n"
    "files. Runs as the service dimcore.service.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
# Without polkitd the service's user may not power the board off.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS polkitd)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${dimcore_pkg_out}/conffiles ${dimcore_pkg}/postinst ${dimcore_pkg}/prerm ${dimcore_pkg}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps can only ask this machine's package database, which has no arm64 libraries.
  # The dependencies come instead from the libraries the programs need (readelf) and the index
  # of the unpacked arm64 packages that scripts/arm64.sh wrote: package (>= upstream version).
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    message(FATAL_ERROR "Packaging: no Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  find_program(DIMCORE_READELF NAMES ${CMAKE_READELF} readelf REQUIRED)
  set(CPACK_DIMCORE_READELF ${DIMCORE_READELF})
  set(CPACK_DIMCORE_LIBRARY_INDEX ${DIMCORE_ARM64_ROOT}/.dimcore-libraries)
  set(programs "")
  foreach(program ${dimcore_packaged_programs})
    list(APPEND programs "$<TARGET_FILE:${program}>")
  endforeach()
  file(GENERATE OUTPUT ${dimcore_pkg_out}/programs.cmake
       CONTENT "set(CPACK_DIMCORE_PROGRAMS \"${programs}\")\n")
  set(CPACK_DIMCORE_PROGRAMS_FILE ${dimcore_pkg_out}/programs.cmake)
  set(CPACK_PROJECT_CONFIG_FILE ${dimcore_pkg}/CrossDepends.cmake)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
