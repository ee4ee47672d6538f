# Installed layout and the Debian package. The program folder of an installed copy is not
# writable, so the settings and the log go to ~/.config/Quoxel/ (see src/core/programdir.h).
include(GNUInstallDirs)

install(TARGETS quoxel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/assets/quoxel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/assets/quoxel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/assets/io.github.quoxel.Quoxel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian wants the changelog and the manual page compressed without a time stamp.
foreach(doc changelog quoxel.1)
    execute_process(COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/assets/debian/${doc}
                    OUTPUT_FILE ${PROJECT_BINARY_DIR}/${doc}.gz)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/assets/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quoxel)
install(FILES ${PROJECT_BINARY_DIR}/quoxel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME quoxel)
set(CPACK_PACKAGE_VENDOR "The Quoxel developers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CONTACT "Quoxel developers <quoxel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TV client for d-box 2 receivers running Neutrino")
set(CPACK_PACKAGE_DESCRIPTION
    "Quoxel shows the live TV of a d-box 2 receiver on the desktop.\n It switches channels and bouquets, shows the programme guide,\n streams through VLC and opens a terminal to the receiver.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/quoxel/quoxel")
# Library packages by name, as a fresh Debian 12 offers them; the plugins are loaded at run time
# and so are not found by a library scan.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), qt6-qpa-plugins, libvlc5, vlc-plugin-base, vlc-plugin-video-output, libcurl4, libgif7, libjpeg62-turbo, libtelnet2, libvterm0, libxcb1, zlib1g, libc6, libstdc++6, libgcc-s1")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(QUOXEL_BUILD_TESTS)
    enable_testing()
    add_subdirectory(tests/install)
endif()
