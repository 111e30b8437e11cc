# `cmake --install` and the Debian package: the program, its private whisper
# and ggml libraries when they are shared, its run-time files where the
# program looks for them, and what a desktop expects of an application (menu
# entry, icons, AppStream metadata, manual page, copyright).
include(GNUInstallDirs)

set(VELMARUNE_APP_ID com.quorin.velmarune)
# The date of the release named by PROJECT_VERSION (AppStream, manual page).
set(VELMARUNE_RELEASE_DATE 2026-12-07)
set(VELMARUNE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/velmarune)

install(TARGETS velmarune RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(VELMARUNE_WHISPER_CPU_VARIANTS AND TARGET ggml-base)
    # A private folder (no other program links these), found through the
    # executable's own run path, so the package adds nothing to the
    # system's library path.
    file(RELATIVE_PATH bin_to_libs /${CMAKE_INSTALL_BINDIR} /${VELMARUNE_PRIVATE_LIB_SUBDIR})
    set_target_properties(velmarune PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_libs}")
    # Headers are for building against whisper, which no user of the package does.
    set_target_properties(whisper ggml PROPERTIES PUBLIC_HEADER "")
    install(TARGETS whisper ggml ggml-base ${GGML_AVAILABLE_BACKENDS}
        LIBRARY DESTINATION ${VELMARUNE_PRIVATE_LIB_SUBDIR} NAMELINK_SKIP)
endif()

if(EXISTS ${PROJECT_SOURCE_DIR}/resources)
    install(DIRECTORY resources/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmarune)
endif()

# The whisper.cpp licence, quoted in copyright (the application shows its
# copy among resources/licenses).
set(whisper_license "${VELMARUNE_WHISPER_SOURCE_DIR}/LICENSE")
if(VELMARUNE_WHISPER_SOURCE_DIR AND EXISTS ${whisper_license})
    file(READ ${whisper_license} text)
    string(STRIP "${text}" text)
    # Machine-readable copyright: licence text lines start with a space, and
    # an empty line is written " .".
    string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
    string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
    string(REGEX REPLACE "\n" "\n " WHISPER_LICENSE_TEXT " ${text}")
else()
    set(WHISPER_LICENSE_TEXT " The whisper.cpp installed on the system carries its own licence.")
endif()
configure_file(packaging/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${VELMARUNE_DOC_DIR})

install(FILES packaging/${VELMARUNE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(packaging/${VELMARUNE_APP_ID}.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/packaging/${VELMARUNE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${VELMARUNE_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES resources/icons/${VELMARUNE_APP_ID}.svg DESTINATION ${icon_dir}/scalable/apps)
install(FILES resources/icons/${VELMARUNE_APP_ID}-symbolic.svg DESTINATION ${icon_dir}/symbolic/apps)

# Generated at build time: the PNG sizes desktops ask for, and the manual page
# and changelog compressed as Debian wants them.
find_program(RSVG_CONVERT rsvg-convert)
find_program(GZIP gzip REQUIRED)
set(generated)
if(RSVG_CONVERT)
    foreach(size 16 22 24 32 48 64 128 256 512)
        set(png ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}/${VELMARUNE_APP_ID}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}
            COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
                    ${PROJECT_SOURCE_DIR}/resources/icons/${VELMARUNE_APP_ID}.svg
            DEPENDS ${PROJECT_SOURCE_DIR}/resources/icons/${VELMARUNE_APP_ID}.svg
            VERBATIM)
        list(APPEND generated ${png})
        install(FILES ${png} DESTINATION ${icon_dir}/${size}x${size}/apps)
    endforeach()
else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: installing the scalable icon only")
endif()

configure_file(packaging/velmarune.1.in ${CMAKE_BINARY_DIR}/packaging/velmarune.1 @ONLY)
foreach(page velmarune.1 changelog)
    if(page STREQUAL "changelog")
        set(source ${PROJECT_SOURCE_DIR}/packaging/changelog)
    else()
        set(source ${CMAKE_BINARY_DIR}/packaging/${page})
    endif()
    set(gz ${CMAKE_BINARY_DIR}/packaging/${page}.gz)
    # -n: no name or time stamp, so the same sources give the same package.
    add_custom_command(OUTPUT ${gz}
        COMMAND ${GZIP} -9nc ${source} > ${gz}
        DEPENDS ${source})
    list(APPEND generated ${gz})
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/packaging/velmarune.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${VELMARUNE_DOC_DIR})
add_custom_target(velmarune_install_files ALL DEPENDS ${generated})

# The Debian package (scripts/package builds it with `cpack`).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmarune)
set(CPACK_PACKAGE_VENDOR Quorin)
set(CPACK_PACKAGE_CONTACT "Quorin <velmarune@quorin.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "push-to-talk dictation that stays on this computer")
# The summary (above) becomes the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Hold Control and Shift, speak, and let go: Velmarune transcribes the
recording on this computer with a whisper speech model and pastes the text
into the window that has the keyboard focus, then gives the clipboard its
previous contents back.
.
It is Hebrew first, with a Hebrew model and a multilingual model that
detects the spoken language. Audio and text never leave the computer; the
network is used only to download the speech models. X11 sessions only.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-utils: "Check for Updates…" asks it for the software centre.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
