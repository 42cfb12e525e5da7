# What `cmake --install` puts where, and the packages CPack makes from it (`cpack` in the build folder):
#   Linux:   a .deb (quillet_<version>_amd64.deb) with the programs, the desktop entry, the icons and the AppStream
#            metadata; its library dependencies come from dpkg-shlibdeps.
#   Windows: a portable zip (quillet-<version>-windows-x64.zip) holding one folder with the programs, the Qt and
#            OpenCV DLLs they load, the Windows platform plugin, qt.conf, Qt's Korean texts and a read-me.
# Included at the end of the top-level CMakeLists.txt, when every program target exists. The install folder of the
# programs (CMAKE_INSTALL_BINDIR, "." on Windows) is set at the top, before the programs' own folders.

set(QUILLET_APP_ID org.example.quillet)
set(QUILLET_HOME_PAGE "https://quillet.example.org/")
set(quillet_programs)
foreach(program quillet quillet-cli)
    if(TARGET ${program})
        list(APPEND quillet_programs ${program})
    endif()
endforeach()
if(quillet_programs)
    install(TARGETS ${quillet_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# quillet-guardian installs itself next to them (src/guardian).

set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VENDOR "The Quillet developers")
set(CPACK_PACKAGE_CONTACT "The Quillet developers <quillet@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keyboard and mouse macros with a Korean interface")
set(CPACK_PACKAGE_HOMEPAGE_URL ${QUILLET_HOME_PAGE})
set(CPACK_STRIP_FILES ON)

if(WIN32)
    if(TARGET quillet)
        # The DLLs of the SDK that the programs load, and the plugins Qt loads from the folders qt.conf names.
        find_package(OpenCV QUIET COMPONENTS core imgproc)
        set(dlls)
        foreach(target Qt6::Core Qt6::Gui Qt6::Widgets opencv_core opencv_imgproc)
            if(TARGET ${target})
                list(APPEND dlls $<TARGET_FILE:${target}>)
            endif()
        endforeach()
        # The programs link the compiler's runtime statically; the DLLs of the SDK still import the POSIX threads
        # library of mingw-w64.
        find_file(QUILLET_WINPTHREAD_DLL libwinpthread-1.dll PATHS /usr/${QUILLET_MINGW_PREFIX}/lib
                  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
        if(QUILLET_WINPTHREAD_DLL)
            list(APPEND dlls ${QUILLET_WINPTHREAD_DLL})
        endif()
        install(FILES ${dlls} DESTINATION .)
        install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
        if(TARGET Qt6::QWindowsVistaStylePlugin)
            install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
        endif()
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/qt.conf DESTINATION .)
        # Qt's own Korean texts (buttons, file dialogs) are the same files on every system: Debian's, of the
        # host tools' Qt version.
        find_file(QUILLET_QT_KOREAN_QM qtbase_ko.qm
                  PATHS ${QT_HOST_PATH}/share/qt6/translations /usr/share/qt6/translations
                  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
        if(QUILLET_QT_KOREAN_QM)
            install(FILES ${QUILLET_QT_KOREAN_QM} DESTINATION translations)
        else()
            message(WARNING "qtbase_ko.qm not found (Debian package qt6-translations-l10n): the zip has no Korean "
                            "texts for Qt's dialogs")
        endif()
    endif()
    # UTF-8 with a byte-order mark and CR LF, which every Notepad reads.
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY
                   NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME quillet-${PROJECT_VERSION}-windows-x64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    if(TARGET quillet)
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/${QUILLET_APP_ID}.desktop
                DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/${QUILLET_APP_ID}.metainfo.xml
                DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
        foreach(size 16 32 48 64 128 256)
            install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/128-${size}.png
                    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                    RENAME ${QUILLET_APP_ID}.png)
        endforeach()
    endif()

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "Keyboard and mouse macros with a Korean interface
 Quillet builds named macros from key presses, mouse moves and clicks, delays,
 waits for a clock time, a key or a screen colour, typed text including Hangul,
 calls of other macros and counted loops, records them from live input and runs
 them, started by hotkeys, clock windows, colours or images on screen (X11).
 .
 The package holds the desktop program quillet and quillet-cli, which checks,
 converts and plays macro libraries from a terminal.")
    # The libraries the programs link come from dpkg-shlibdeps. Qt loads its X11 platform plugin at run time, and
    # every text of the program is Korean, which needs a font with Hangul: those packages are named here. Without
    # Qt's Korean texts only Qt's own buttons and dialogs stay in English.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-nanum | fonts-noto-cjk")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()

include(CPack)

# The .deb made and checked from this build (scripts/package.sh): its files, its dependencies, its desktop entry and
# AppStream metadata.
if(QUILLET_BUILD_TESTS AND NOT WIN32 AND TARGET quillet)
    add_test(NAME package_deb COMMAND ${PROJECT_SOURCE_DIR}/scripts/package.sh deb --build-dir ${CMAKE_BINARY_DIR})
    set_tests_properties(package_deb PROPERTIES LABELS package TIMEOUT 600)
endif()
