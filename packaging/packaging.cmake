# Installs the player the way desktop software is installed on Linux (menu entry,
# themed icons) and describes the Debian package that CPack builds from it:
#
#   cmake --install <build> --prefix <dir>
#   cpack -G DEB --config <build>/CPackConfig.cmake          (or just `cpack` in <build>)
#
# Included from the top-level CMakeLists, so paths below are relative to the project.

set(ZELTORA_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(ZELTORA_LOGO ${PROJECT_SOURCE_DIR}/resources/icons/logo.svg)
set(ZELTORA_PACKAGING_CONTACT "Wandel Forge <zeltora@wandelforge.com>")

if(UNIX AND NOT APPLE)
  # --- menu entry and icons --------------------------------------------------
  install(FILES ${ZELTORA_PACKAGING_DIR}/zeltora.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ZELTORA_LOGO}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME zeltora.svg)

  # Panels, docks and task switchers ask the icon theme for fixed sizes and do not
  # all scale SVGs themselves, so the logo is also rendered at the usual sizes.
  # The renderer has to run on the build machine; a cross build ships the SVG only.
  if(NOT CMAKE_CROSSCOMPILING)
    set(ZELTORA_ICON_SIZES 16 22 24 32 48 64 128 256)
    set(ZELTORA_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)

    qt_add_executable(zeltora_rendericon ${PROJECT_SOURCE_DIR}/scripts/rendericon.cpp)
    target_link_libraries(zeltora_rendericon PRIVATE Qt6::Gui Qt6::Svg)

    set(icon_outputs)
    foreach(size IN LISTS ZELTORA_ICON_SIZES)
      list(APPEND icon_outputs ${ZELTORA_ICON_DIR}/${size}x${size}/apps/zeltora.png)
    endforeach()
    # A sanitizer build instruments the renderer too; Qt's process-lifetime
    # allocations must not fail the build as leaks.
    add_custom_command(
      OUTPUT ${icon_outputs}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
              $<TARGET_FILE:zeltora_rendericon> ${ZELTORA_LOGO} ${ZELTORA_ICON_DIR} zeltora
              ${ZELTORA_ICON_SIZES}
      DEPENDS zeltora_rendericon ${ZELTORA_LOGO}
      COMMENT "Rendering the logo into the hicolor icon sizes"
      VERBATIM)
    add_custom_target(zeltora_icons ALL DEPENDS ${icon_outputs})

    foreach(size IN LISTS ZELTORA_ICON_SIZES)
      install(FILES ${ZELTORA_ICON_DIR}/${size}x${size}/apps/zeltora.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  endif()

  # Debian wants a copyright statement and a changelog beside every package's
  # documentation, and a manual page for every program on the PATH. Both texts
  # are stored compressed without a time stamp, as Debian policy asks.
  install(FILES ${ZELTORA_PACKAGING_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeltora)
  find_program(ZELTORA_GZIP gzip)
  if(ZELTORA_GZIP)
    configure_file(${ZELTORA_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
    configure_file(${ZELTORA_PACKAGING_DIR}/zeltora.1 ${CMAKE_BINARY_DIR}/packaging/zeltora.1 COPYONLY)
    set(doc_outputs)
    foreach(doc changelog zeltora.1)
      set(out ${CMAKE_BINARY_DIR}/packaging/${doc}.gz)
      add_custom_command(
        OUTPUT ${out}
        COMMAND ${ZELTORA_GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/packaging/${doc} > ${out}
        DEPENDS ${CMAKE_BINARY_DIR}/packaging/${doc}
        COMMENT "Compressing ${doc}")
      list(APPEND doc_outputs ${out})
    endforeach()
    add_custom_target(zeltora_packaging_docs ALL DEPENDS ${doc_outputs})
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeltora)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/zeltora.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

# --- package description ------------------------------------------------------
set(CPACK_PACKAGE_NAME zeltora)
set(CPACK_PACKAGE_VENDOR "Wandel Forge")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZELTORA_PACKAGING_CONTACT}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.wandelforge.com/zeltora")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "simple media player for video and audio files")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Zeltora)
set(CPACK_STRIP_FILES ON)

# `make package_source` must not sweep up build trees or the repository itself.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")

if(UNIX AND NOT APPLE)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CPACK_PACKAGE_HOMEPAGE_URL}")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the body.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Zeltora plays the pictures of video files (MP4, AVI, MKV, MOV) and keeps a
playlist that also takes audio files (MP3, FLAC, WAV). It has a frameless
window with its own title bar, a full-screen mode whose bars hide themselves,
screenshots as PNG files and a Chinese user interface. Decoding is done by the
FFmpeg libraries.")

  # What the program loads by name at run time rather than by linking: the SVG
  # icon plug-in, the platform plug-ins and fonts with Chinese glyphs.
  set(ZELTORA_DEB_RUNTIME_DEPENDS "libqt6svg6, qt6-qpa-plugins, fonts-noto-cjk")

  find_program(ZELTORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(ZELTORA_DPKG_SHLIBDEPS)
    # The linked libraries, with the minimum versions the binary needs, are read
    # from the binary itself.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ZELTORA_DEB_RUNTIME_DEPENDS}")
  else()
    # Debian 12's names, for machines without dpkg-dev.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6multimedia6 (>= 6.4), libqt6dbus6 (>= 6.4), libavformat59, libavcodec59, libavutil57, libswscale6, ${ZELTORA_DEB_RUNTIME_DEPENDS}")
  endif()
else()
  set(CPACK_GENERATOR ZIP)
endif()

include(CPack)
