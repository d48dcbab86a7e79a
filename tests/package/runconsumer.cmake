# Driven by the package_consumer test: install, build the consumer, run it.
# Inputs: BUILD_DIR, WORK_DIR, CONSUMER_DIR, GENERATOR, CXX_COMPILER, CONSUMER_FLAGS.

function(run step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    message("${out}")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${step} failed (${result})")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(header iec101view.h iec101view_export.h command.h serialparam.h infoobject.h)
    if(NOT EXISTS ${prefix}/include/iec101view/${header})
        message(FATAL_ERROR "installed header missing: ${header}")
    endif()
endforeach()

run("configure" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=Debug
    "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}")
run("build" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("run" ${WORK_DIR}/build/consumer)
