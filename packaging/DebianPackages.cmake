# The Debian packages (scripts/package), one per install component (see packaging/CMakeLists.txt).
# Included last by the top-level CMakeLists.txt: CPack takes the list of components as it stands
# when it is included, so every folder's install rules must be known by then.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME zendrik)
set(CPACK_PACKAGE_VENDOR "Zendrik")
# The Maintainer field of every package; a distributor puts its own contact here.
set(ZENDRIK_PACKAGE_CONTACT "Zendrik maintainers <maintainers@zendrik.example>"
    CACHE STRING "The Maintainer of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${ZENDRIK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs link the packages' own library; dpkg-shlibdeps finds it in the build tree, and the
# dependency on the package that holds it is written out below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# libzendrik1's shlibs file: a program built elsewhere against this version needs at least it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
# Each package built here that uses the library takes the library of the same build.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Until this split, one package named zendrik held everything: each of its successors replaces it.
set(CPACK_DEBIAN_PACKAGE_CONFLICTS zendrik)
set(CPACK_DEBIAN_PACKAGE_REPLACES zendrik)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libzendrik1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# ldconfig runs once per dpkg run, by its trigger, after the library is unpacked or removed.
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/libzendrik1/triggers)
set(CPACK_DEBIAN_LIB_DESCRIPTION "driver library for a fixed UHF RFID reader
libzendrik.so.1 talks to a fixed UHF RFID reader over a serial line, USB HID
or UDP behind a flat C API, runs reader sessions with inventory and presence
events, and finds network modules. The udev rule gives the user at the seat
and the group plugdev the reader's USB node.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzendrik-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
set(CPACK_DEBIAN_DEV_DESCRIPTION "driver library for a fixed UHF RFID reader - development files
The C headers of libzendrik (the flat API and the reader sessions, with a
header-only C++ wrapper), the link to the library, its pkg-config file and
its CMake package (find_package(zendrik)).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zendrik-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_TOOLS_DEPENDS lib)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line program, MQTT daemon and virtual reader for a UHF RFID reader
zendrik reads and sets a fixed UHF RFID reader's configuration and reads its
tags from the command line. zendrikd reads every reader of a site
continuously and publishes the reads to an MQTT broker through a spool that
loses nothing while the broker is away; it comes with a systemd unit and a
sample configuration. zendrik-sim is a virtual reader for tests and
demonstrations.")

set(CPACK_DEBIAN_DEMO_PACKAGE_NAME zendrik-demo)
set(CPACK_DEBIAN_DEMO_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_DEMO_DEPENDS lib)
# The tool's field prompts are Chinese: without a font that has those glyphs they show as boxes.
# dpkg-shlibdeps adds Qt's packages to this list.
set(CPACK_DEBIAN_DEMO_PACKAGE_DEPENDS fonts-wqy-microhei)
set(CPACK_DEBIAN_DEMO_DESCRIPTION "configuration tool for a fixed UHF RFID reader
ZendrikDemo is a Qt window that connects to a reader over USB HID, a serial
port or UDP, reads, changes and saves its configuration, and reads the tags
in its field into a list.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zendrik)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DEPENDS lib)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS python3)
# Only zendrik.Listener needs the MQTT client.
set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS python3-paho-mqtt)
# Pure Python on ctypes: the same files serve every architecture.
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python interface to the zendrik UHF RFID reader library
The zendrik package opens readers and runs sessions through libzendrik.so.1
with ctypes: reader identity and settings, single reads, and inventory with
presence events.")
# Every package carries its copyright file and the changelog in its own documentation folder, as
# Debian policy asks; the changelog compressed as dpkg and lintian expect it (-n: reproducibly).
set(zendrik_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${zendrik_changelog}
    COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/changelog > ${zendrik_changelog}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
    COMMENT "Compressing the Debian changelog")
add_custom_target(zendrik-changelog ALL DEPENDS ${zendrik_changelog})
get_cmake_property(zendrik_install_components COMPONENTS)
foreach(component IN LISTS zendrik_install_components)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    if(package)
        install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${zendrik_changelog}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    endif()
endforeach()
include(CPack)
