# SPDX-License-Identifier: MIT
# Three Debian packages from one build, made with `cpack -G DEB` in a build
# configured with CMAKE_INSTALL_PREFIX=/usr (scripts/check-package does it):
#   nubaro         the window, nubaro-convert, their menu entry, icons,
#                  metadata, manual pages and completion
#   libimgctl1     the run-time library, libimgctl.so.1
#   libimgctl-dev  the header, the libimgctl.so link, imgctl.pc and the CMake
#                  package
# Dependencies on other packages come from the binaries (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nubaro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Nubaro developers")
set(CPACK_PACKAGE_CONTACT "Nubaro developers <nubaro@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/nubaro/nubaro")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs library development)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS library)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)

set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libimgctl1's shlibs file (programs built against it depend on
# libimgctl1 (>= version)) and its ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# nubaro-convert needs libimgctl.so.1, which no installed package provides
# while the packages are built: dpkg-shlibdeps finds it in the build tree, and
# the dependency on libimgctl1 is the component dependency above.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/imgctl)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME nubaro)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "image file converter for BMP, JPEG and PNG
Nubaro converts one picture file at a time in a small window: choose a BMP,
JPEG or PNG file, see a preview, pick the output format and its options
(bit depth, run-length compression and gray level for BMP, quality and
progressive coding for JPEG, compression level and interlacing for PNG) and
save a converted copy. Its user interface is in Japanese.

The command-line converter nubaro-convert runs the same conversion without a
window, on many files at once.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libimgctl1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# An ldconfig trigger, as Debian wants, and no maintainer scripts: cpack
# writes a postinst and postrm that call ldconfig unless the extra control
# files name a postinst and a postrm; it packs only those that exist, so
# naming two that do not exist leaves both out.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/libimgctl1/triggers
    ${CMAKE_CURRENT_LIST_DIR}/libimgctl1/none/postinst
    ${CMAKE_CURRENT_LIST_DIR}/libimgctl1/none/postrm)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "BMP, JPEG and PNG image library (run-time files)
imgctl loads BMP, JPEG and PNG files into in-memory bitmaps named by integer
handles, converts them between pixel formats (24-bit, 16-bit, 8-bit palette,
run-length compression, gray levels), draws them scaled and saves them as
BMP, JPEG or PNG, writing each file crash-safely.

This package holds the shared library libimgctl.so.1.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libimgctl-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "BMP, JPEG and PNG image library (development files)
imgctl loads BMP, JPEG and PNG files into in-memory bitmaps named by integer
handles, converts them between pixel formats, draws them scaled and saves
them as BMP, JPEG or PNG.

This package holds the C header imgctl.h, the pkg-config file imgctl.pc and
the CMake package imgctl (find_package(imgctl), target imgctl::imgctl).")

# Debian's documentation files: each package's copyright and changelog, and
# compressed manual pages.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-docs.cmake)
set(CPACK_NUBARO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_NUBARO_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

include(CPack)
