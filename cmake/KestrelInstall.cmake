# Installing the Kestrel library as a package others build on: headers under
# include/kestrel/<layer>/, the libraries, a CMake package (find_package(Kestrel)) with the
# targets Kestrel::<layer> and Kestrel::Kestrel for all, and a pkg-config file.
#
# Install components: "runtime" (programs, shared libraries, desktop files, manual pages)
# and "development" (headers, static libraries, shared library links, package files).
include(CMakePackageConfigHelpers)

set(KESTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrel)
# Shared and static builds may be installed into one prefix; each has its own targets file.
if(BUILD_SHARED_LIBS)
    set(KESTREL_LINKAGE shared)
else()
    set(KESTREL_LINKAGE static)
endif()
# Shared libraries in one folder of the build, where the packaging looks for them.
if(BUILD_SHARED_LIBS)
    set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/shlib)
endif()
# Programs find the shared libraries of their own prefix wherever it is installed.
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

# kestrel_install_library(<target> <layer folder>...): exports <target> as
# Kestrel::<name without "kestrel_"> and installs it with the headers of the folders.
function(kestrel_install_library target)
    string(REGEX REPLACE "^kestrel_" "" exportName ${target})
    add_library(Kestrel::${exportName} ALIAS ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${exportName})
    get_target_property(type ${target} TYPE)
    set(scope PUBLIC)
    if(type STREQUAL "INTERFACE_LIBRARY")
        set(scope INTERFACE)
    endif()
    target_include_directories(${target} ${scope}
        $<BUILD_INTERFACE:${KESTREL_INCLUDE_ROOT}>
        $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/kestrel>)
    if(type STREQUAL "SHARED_LIBRARY")
        # Only the library's own names (classes and namespaces prefixed Ks or CBF) leave
        # the shared object; template instances of other code stay inside.
        set_target_properties(${target} PROPERTIES
            VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
            INSTALL_RPATH "$ORIGIN"
            LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/kestrel.map)
        target_link_options(${target} PRIVATE
            -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/kestrel.map -Wl,--no-undefined)
    endif()
    install(TARGETS ${target} EXPORT KestrelTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
            NAMELINK_COMPONENT development)
    foreach(folder ${ARGN})
        install(DIRECTORY ${KESTREL_INCLUDE_ROOT}/${folder}/
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrel/${folder}
            COMPONENT development FILES_MATCHING PATTERN "*.h")
    endforeach()
    set_property(GLOBAL APPEND PROPERTY KESTREL_PACKAGE_TARGETS ${target})
endfunction()

# kestrel_install_package(): Kestrel::Kestrel (every library), the package configuration
# and version files and the pkg-config file. Called once all libraries exist.
function(kestrel_install_package)
    get_property(targets GLOBAL PROPERTY KESTREL_PACKAGE_TARGETS)
    add_library(kestrel_all INTERFACE)
    target_link_libraries(kestrel_all INTERFACE ${targets})
    set_target_properties(kestrel_all PROPERTIES EXPORT_NAME Kestrel)
    add_library(Kestrel::Kestrel ALIAS kestrel_all)
    install(TARGETS kestrel_all EXPORT KestrelTargets)
    install(EXPORT KestrelTargets NAMESPACE Kestrel:: DESTINATION ${KESTREL_CMAKE_DIR}
        FILE KestrelTargets-${KESTREL_LINKAGE}.cmake COMPONENT development)

    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KestrelConfig.cmake.in
        ${PROJECT_BINARY_DIR}/KestrelConfig.cmake INSTALL_DESTINATION ${KESTREL_CMAKE_DIR})
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrelConfigVersion.cmake
        COMPATIBILITY SameMinorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/KestrelConfig.cmake
        ${PROJECT_BINARY_DIR}/KestrelConfigVersion.cmake
        DESTINATION ${KESTREL_CMAKE_DIR} COMPONENT development)

    # pkg-config: the libraries highest layer first, so that static linking resolves.
    set(libs "")
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            set(libs "-l${target} ${libs}")
        endif()
    endforeach()
    string(STRIP "${libs}" KESTREL_PC_LIBS)
    # The prefix is found from where the file lies, so the installed tree can move.
    file(RELATIVE_PATH KESTREL_PC_PREFIX
        /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
    string(REGEX REPLACE "/$" "" KESTREL_PC_PREFIX "${KESTREL_PC_PREFIX}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/kestrel.pc.in ${PROJECT_BINARY_DIR}/kestrel.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/kestrel.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endfunction()
