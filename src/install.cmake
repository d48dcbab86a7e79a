# Installs the shared library, the headers a host includes and a CMake package, so
# that a host writes find_package(Iec101View) and links Iec101View::Iec101View.

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
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/command.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/serialparam.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/infoobject.h
    ${CMAKE_CURRENT_SOURCE_DIR}/engine/lineframe.h
    ${CMAKE_CURRENT_SOURCE_DIR}/panels/linemonitor.h
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
