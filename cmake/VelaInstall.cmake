# `cmake --install`: the library, its headers under include/vela/<folder>/, a package config that gives
# consumers the target vela::velacore through find_package(velacore), and the updater's bundle in libexec/.
include(CMakePackageConfigHelpers)

set(VELA_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velacore)

set_target_properties(velacore PROPERTIES EXPORT_NAME velacore)
install(TARGETS velacore EXPORT velacoreTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT velacoreTargets NAMESPACE vela:: DESTINATION ${VELA_CMAKE_INSTALL_DIR})

# The platform headers that a public header reaches, directly or through another platform header; the rest
# of platform/ stays private.
function(vela_reached_platform_headers out)
    set(pending ${ARGN})
    set(reached)
    while(pending)
        list(POP_FRONT pending header)
        file(STRINGS ${PROJECT_SOURCE_DIR}/${header} lines REGEX "^#include \"[a-z]+/platform/[^\"]+\"")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
            if(NOT included IN_LIST reached)
                list(APPEND reached ${included})
                list(APPEND pending ${included})
            endif()
        endforeach()
    endwhile()
    set(${out} ${reached} PARENT_SCOPE)
endfunction()

set(vela_public_headers)
foreach(sub IN LISTS VELA_SUBSYSTEMS)
    file(GLOB sub_headers RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${sub}/*.h)
    list(APPEND vela_public_headers ${sub_headers})
endforeach()
vela_reached_platform_headers(vela_platform_headers ${vela_public_headers})
foreach(header IN LISTS vela_public_headers vela_platform_headers)
    get_filename_component(folder ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vela/${folder})
endforeach()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/velacoreConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/velacoreConfig.cmake
                              INSTALL_DESTINATION ${VELA_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velacoreConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/velacoreConfig.cmake ${PROJECT_BINARY_DIR}/velacoreConfigVersion.cmake
        DESTINATION ${VELA_CMAKE_INSTALL_DIR})

# The updater's bundle as the build makes it, the executable given a run path to the installed library.
set(VELA_UPDATER_INSTALL_DIR ${CMAKE_INSTALL_LIBEXECDIR}/Updater.app/Contents)
file(RELATIVE_PATH vela_updater_to_lib ${CMAKE_INSTALL_PREFIX}/${VELA_UPDATER_INSTALL_DIR}/MacOS
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set_target_properties(updater PROPERTIES INSTALL_RPATH "$ORIGIN/${vela_updater_to_lib}")
install(TARGETS updater RUNTIME DESTINATION ${VELA_UPDATER_INSTALL_DIR}/MacOS)
install(PROGRAMS ${VELA_UPDATER_BUNDLE}/Contents/MacOS/open DESTINATION ${VELA_UPDATER_INSTALL_DIR}/MacOS)
install(FILES ${VELA_UPDATER_BUNDLE}/Contents/Info.plist DESTINATION ${VELA_UPDATER_INSTALL_DIR})
install(DIRECTORY ${VELA_UPDATER_BUNDLE}/Contents/Resources DESTINATION ${VELA_UPDATER_INSTALL_DIR})
