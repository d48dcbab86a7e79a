# Driven by the package tests.
#   STEP=install  install the built library from BUILD_DIR into PREFIX (a fresh one);
#   STEP=cmake    configure, build and run the consumer with CMake, through find_package;
#   STEP=qmake    the same consumer with qmake, through pkg-config.
# Inputs: STEP, PREFIX, LIBDIR, BUILD_DIR (install), CONSUMER_DIR, WORK_DIR, GENERATOR,
# CXX_COMPILER, CONSUMER_FLAGS (the consumers).

function(run step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    message("${out}")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${step} failed (${result})")
    endif()
endfunction()

if(STEP STREQUAL "install")
    file(REMOVE_RECURSE ${PREFIX})
    run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
    foreach(file include/iec101view/iec101view.h include/iec101view/iec101view_export.h
            include/iec101view/iec101engine_export.h include/iec101view/command.h
            include/iec101view/serialparam.h include/iec101view/infoobject.h
            include/iec101view/findingspanel.h ${LIBDIR}/pkgconfig/iec101view.pc bin/iec101-master
            bin/iec101-report)
        if(NOT EXISTS ${PREFIX}/${file})
            message(FATAL_ERROR "installed file missing: ${file}")
        endif()
    endforeach()
    return()
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
if(STEP STREQUAL "cmake")
    run("configure" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR} -G ${GENERATOR}
        -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
        -DCMAKE_PREFIX_PATH=${PREFIX}
        -DCMAKE_BUILD_TYPE=Debug
        "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
        "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}")
    run("build" ${CMAKE_COMMAND} --build ${WORK_DIR})
    run("run" ${WORK_DIR}/consumer)
elseif(STEP STREQUAL "qmake")
    # The scratch prefix's .pc file comes before any installed on the machine.
    run("qmake" ${CMAKE_COMMAND} -E chdir ${WORK_DIR}
        ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${PREFIX}/${LIBDIR}/pkgconfig
        qmake ${CONSUMER_DIR}/consumer.pro
        QMAKE_CXX=${CXX_COMPILER} QMAKE_LINK=${CXX_COMPILER}
        "QMAKE_CXXFLAGS+=${CONSUMER_FLAGS}" "QMAKE_LFLAGS+=${CONSUMER_FLAGS}")
    run("build" make -C ${WORK_DIR})
    run("run" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PREFIX}/${LIBDIR} ${WORK_DIR}/consumer)
else()
    message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
