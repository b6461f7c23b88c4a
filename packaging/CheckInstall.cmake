# ctest packaging.install: cmake --install of the build folder BUILD_DIR under DEST/usr, then
# checks that every file is there.
#   cmake -DBUILD_DIR=... -DDEST=... -DAPP_ID=... -DWITH_PNG=0|1 -DLIBDIR=lib
#         [-DPYTHON_DIR=lib/python3/dist-packages] -P CheckInstall.cmake
file(REMOVE_RECURSE ${DEST})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${DEST}/usr
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${status})")
endif()

set(expected
    bin/movantrix-manager bin/movantrix-manager-sim bin/movantrix-cli bin/movantrix-bus-sim
    share/applications/${APP_ID}.desktop
    share/applications/${APP_ID}.Sim.desktop
    share/metainfo/${APP_ID}.metainfo.xml
    share/icons/hicolor/scalable/apps/${APP_ID}.svg
    share/man/man1/movantrix-manager.1.gz share/man/man1/movantrix-manager-sim.1.gz
    share/man/man1/movantrix-cli.1.gz share/man/man1/movantrix-bus-sim.1.gz
    share/bash-completion/completions/movantrix-cli
    lib/udev/rules.d/60-movantrix-manager.rules
    ${LIBDIR}/libmovantrix.so ${LIBDIR}/libmovantrix.so.0
    include/movantrix/movantrix.h include/movantrix/bus.h include/movantrix/device.h
    include/movantrix/errors.h include/movantrix/types.h include/movantrix/export.h
    ${LIBDIR}/cmake/Movantrix/MovantrixConfig.cmake
    ${LIBDIR}/cmake/Movantrix/MovantrixConfigVersion.cmake
    ${LIBDIR}/cmake/Movantrix/MovantrixTargets.cmake
    ${LIBDIR}/pkgconfig/movantrix.pc)
if(WITH_PNG)
    foreach(size 16 32 48 64 128 256)
        list(APPEND expected share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
    endforeach()
endif()

if(PYTHON_DIR)
    file(GLOB python_module RELATIVE ${DEST}/usr ${DEST}/usr/${PYTHON_DIR}/movantrix.*.so)
    if(NOT python_module)
        set(python_module ${PYTHON_DIR}/movantrix.*.so)
    endif()
    list(APPEND expected ${python_module} ${PYTHON_DIR}/movantrix.pyi)
endif()

set(missing)
foreach(path ${expected})
    if(NOT EXISTS ${DEST}/usr/${path})
        list(APPEND missing ${path})
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "not installed: ${missing}")
endif()
list(LENGTH expected count)
message(STATUS "${count} files installed where they belong")
