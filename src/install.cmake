# Installs the shared library, the headers a host includes, a CMake package and a
# pkg-config file, so that a host writes find_package(Iec101View) and links
# Iec101View::Iec101View, or (qmake) PKGCONFIG += iec101view.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(IEC101_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/iec101view)
set(IEC101_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Iec101View)

install(TARGETS Iec101View
    EXPORT Iec101ViewTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${IEC101_INSTALL_INCLUDEDIR})

# The public header and the records it names; none of them needs lib60870's headers.
install(FILES
    ${CMAKE_CURRENT_SOURCE_DIR}/view/iec101view.h
    ${CMAKE_CURRENT_BINARY_DIR}/iec101view_export.h
    ${CMAKE_CURRENT_BINARY_DIR}/iec101engine_export.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/command.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/serialparam.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/infoobject.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/lineframe.h
    ${CMAKE_CURRENT_SOURCE_DIR}/panels/linemonitor.h
    ${CMAKE_CURRENT_SOURCE_DIR}/panels/findingspanel.h
    ${CMAKE_CURRENT_SOURCE_DIR}/panels/commandform.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/commandrequest.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/commandoutcome.h
    DESTINATION ${IEC101_INSTALL_INCLUDEDIR})

install(EXPORT Iec101ViewTargets
    NAMESPACE Iec101View::
    DESTINATION ${IEC101_INSTALL_CMAKEDIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/Iec101ViewConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/Iec101ViewConfig.cmake
    INSTALL_DESTINATION ${IEC101_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/Iec101ViewConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${CMAKE_CURRENT_BINARY_DIR}/Iec101ViewConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/Iec101ViewConfigVersion.cmake
    DESTINATION ${IEC101_INSTALL_CMAKEDIR})

# The same library for pkg-config (qmake and other hosts without CMake). Qt's modules
# are public requirements because the public header includes Qt headers.
set(IEC101_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH IEC101_PC_PREFIX /${IEC101_INSTALL_PKGCONFIGDIR} /)
string(REGEX REPLACE "/$" "" IEC101_PC_PREFIX ${IEC101_PC_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/iec101view.pc.in ${CMAKE_CURRENT_BINARY_DIR}/iec101view.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/iec101view.pc DESTINATION ${IEC101_INSTALL_PKGCONFIGDIR})
