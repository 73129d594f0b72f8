# What an installation holds (the programs, the desktop entry and icons, AppStream metadata,
# manual pages, copyright and changelog) and the Debian package made of it with
# `cmake --build --preset default --target package`.
include(GNUInstallDirs)

set(resources ${PROJECT_SOURCE_DIR}/tool/resources)
install(TARGETS VortaFWUpdateTool vorta-devsim vorta-mkimage
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${resources}/vorta-fwupdate-tool.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${resources}/com.talbo.VortaFWUpdateTool.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${resources}/icons/${size}x${size}/vorta-fwupdate-tool.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${resources}/icons/scalable/vorta-fwupdate-tool.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/contrib/bash-completion/VortaFWUpdateTool
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages from their scdoc sources, and the changelog, compressed as Debian wants them.
find_program(VORTA_SCDOC scdoc REQUIRED)
find_program(VORTA_GZIP gzip REQUIRED)
set(generated ${PROJECT_BINARY_DIR}/packaging)
set(man_outputs)
foreach(page VortaFWUpdateTool vorta-devsim vorta-mkimage)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd)
    set(output ${generated}/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
        COMMAND sh -c [["$1" < "$2" | "$3" -9n > "$4"]] sh
            ${VORTA_SCDOC} ${source} ${VORTA_GZIP} ${output}
        DEPENDS ${source}
        COMMENT "Manual page ${page}(1)"
        VERBATIM)
    list(APPEND man_outputs ${output})
endforeach()
add_custom_command(OUTPUT ${generated}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
    COMMAND sh -c [["$1" -9n < "$2" > "$3"]] sh
        ${VORTA_GZIP} ${PROJECT_SOURCE_DIR}/packaging/changelog ${generated}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(vorta_docs ALL DEPENDS ${man_outputs} ${generated}/changelog.gz)
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vorta-fwupdate-tool)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${generated}/changelog.gz
    DESTINATION ${doc_dir})

# The package's dependencies: dpkg-shlibdeps over every binary that runs, the engine the tool
# carries included. Debian only; elsewhere the package target is not offered.
find_program(VORTA_SHLIBDEPS dpkg-shlibdeps)
if(NOT VORTA_SHLIBDEPS)
    return()
endif()
set(depends_file ${generated}/depends.txt)
add_custom_command(OUTPUT ${depends_file}
    COMMAND ${CMAKE_COMMAND} -DOUT=${depends_file}
        "-DFILES=$<TARGET_FILE:VortaFWUpdateTool>;${VORTA_MODULE_FILE};$<TARGET_FILE:vorta-devsim>;$<TARGET_FILE:vorta-mkimage>"
        -P ${PROJECT_SOURCE_DIR}/cmake/ShlibDepends.cmake
    DEPENDS VortaFWUpdateTool VortaFWUpdateModule vorta-devsim vorta-mkimage
        ${PROJECT_SOURCE_DIR}/cmake/ShlibDepends.cmake
    COMMENT "Package dependencies from dpkg-shlibdeps"
    VERBATIM)
add_custom_target(vorta_package_depends ALL DEPENDS ${depends_file})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorta-fwupdate-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR TALBO)
set(CPACK_PACKAGE_CONTACT "TALBO <support@talbo.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Rewrite the firmware of Vorta network devices")
# CPack puts the summary on the "Description:" line and indents these lines below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A wizard and a command line that rewrite the firmware of network-attached
Vorta devices over HTTP from the update image the tool carries inside
itself, one device or many at a time. A rewrite counts as done only when the
device reports the new firmware version afterwards.

The package also holds vorta-devsim, a simulator of a fleet of devices, and
vorta-mkimage, the update image writer.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.talbo.com/vorta/")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_STRIP_FILES ON)
# Most of the package is the carried image, which does not compress; gzip costs the least.
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_VORTA_DEPENDS_FILE ${depends_file})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackDebianDepends.cmake)
include(CPack)
