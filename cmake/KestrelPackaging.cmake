# Debian packages built with CPack (scripts/package):
#   kestrel          mtconvert, mtconvert-gui (desktop entry, icon, metainfo), kstable, their
#                    manual pages and the shared libraries (this build, BUILD_SHARED_LIBS=ON)
#   libkestrel-dev   headers, static libraries, the CMake package and the pkg-config file
#                    (the "development" component of a static build, KESTREL_PACKAGE_STATIC_BUILD)
set(KESTREL_PACKAGE_STATIC_BUILD "" CACHE PATH
    "Build directory of a static build whose development files go into libkestrel-dev")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "Kestrel")
set(CPACK_PACKAGE_CONTACT "Kestrel developers <support@example.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kestrel class library and the Menu*Tally data file converter")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Each build tree is installed with the components its CPACK_COMPONENTS_<entry> lists.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Kestrel;shared;/")
set(CPACK_COMPONENTS_SHARED runtime)
if(KESTREL_PACKAGE_STATIC_BUILD)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${KESTREL_PACKAGE_STATIC_BUILD};Kestrel;static;/")
    set(CPACK_COMPONENTS_STATIC development)
endif()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME kestrel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/shlib)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Menu*Tally data file converter (mtconvert, mtconvert-gui) and the table tool kstable\n"
    "mtconvert and its desktop application turn comma-separated questionnaire exports into\n"
    "fixed-width files; kstable creates, imports, exports and sorts Kestrel tables. With the\n"
    "Kestrel shared libraries they run on.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkestrel-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libstdc++-12-dev | libstdc++-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Kestrel class library: headers, static libraries, CMake package and pkg-config file\n"
    "Strings, files and streams, typed tables, indexes, external sorting, dates and value\n"
    "formats for C++20: find_package(Kestrel) and link Kestrel::Kestrel.")

include(CPack)
