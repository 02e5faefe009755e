# The Debian package, built by CPack from the install rules (scripts/package, or
# `cpack --config <build>/CPackConfig.cmake`). Its dependencies are computed from the
# installed executable and language packages by dpkg-shlibdeps; what is loaded at run time
# without being linked (the event sounds, Qt's translations, Wayland) is recommended.
# QUILL_PACKAGE_MAINTAINER comes from packaging/, whose changelog names it too.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillstream)
set(CPACK_PACKAGE_VENDOR "Orix Software")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${QUILL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "follow a log file as it grows")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUILL_WEBSITE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
# The machine-wide settings are the administrator's to edit: dpkg keeps their changes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/conffiles")
# The first line of the Description field is the summary above; CPack indents these
# lines and turns the empty one into the paragraph mark.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillstream is a desktop program that shows a log file while other programs
write to it. It stays at the end as the file grows, re-opens the file when it
is truncated, rotated or re-created, colours lines that hold your keywords,
and beeps or plays a sound when a matching line arrives. Following can be
paused and resumed; files of any size open at once.

The user interface is in English and German.")

include(CPack)
