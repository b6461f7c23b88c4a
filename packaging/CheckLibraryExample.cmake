# ctest packaging.library-example: builds examples/cpp against the library installed under
# PREFIX (find_package(Movantrix) there, nothing of the source tree), runs it on the simulated
# bus, and checks the pkg-config file the same way.
#   cmake -DSOURCE=examples/cpp -DPREFIX=... -DBUILD=... -DLIBDIR=lib [-DCXX_FLAGS=...]
#         [-DLINKER_FLAGS=...] -P CheckLibraryExample.cmake
file(REMOVE_RECURSE ${BUILD})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G Ninja
        -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_BUILD_TYPE=Release
        "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring the example failed:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "building the example failed:\n${out}")
endif()
execute_process(COMMAND ${BUILD}/movantrix-example sim
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "1 3 PW-900\n" OR NOT out MATCHES "goal-position 512\n")
    message(FATAL_ERROR "the example ended with ${status}:\n${out}${err}")
endif()
message(STATUS "the example built against ${PREFIX} and ran:\n${out}")

# pkg-config, where it is installed: the flags name the installed tree.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${PREFIX}/${LIBDIR}/pkgconfig
            ${PKG_CONFIG} --cflags --libs movantrix
        RESULT_VARIABLE status OUTPUT_VARIABLE flags ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT flags MATCHES "-lmovantrix")
        message(FATAL_ERROR "pkg-config movantrix: ${status} ${flags}${err}")
    endif()
    message(STATUS "pkg-config movantrix: ${flags}")
endif()
