# Read by cpack when it makes the package: the dependencies dpkg-shlibdeps found at build time,
# plus the Qt platform plugins, which the wizard loads at run time and no scan can see.
if(CPACK_GENERATOR STREQUAL "DEB")
    if(NOT EXISTS "${CPACK_VORTA_DEPENDS_FILE}")
        message(FATAL_ERROR "Build first: ${CPACK_VORTA_DEPENDS_FILE} is missing")
    endif()
    file(READ "${CPACK_VORTA_DEPENDS_FILE}" found)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${found}, qt6-qpa-plugins")
endif()
