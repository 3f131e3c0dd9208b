# Tests that run the real programs from shell scripts. Each gets the program
# folder, a scratch home and, for Windows builds, the Wine runner.
function(scour_add_script_test name script)
    if(WIN32)
        set(runner "/usr/lib/wine/wine64")
    else()
        set(runner "")
    endif()
    add_test(NAME ${name}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/${script} ${ARGN})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "SCOUR_BIN=${SCOUR_BIN_DIR};SCOUR_TOOLS=${SCOUR_TEST_OUT}/tools;SCOUR_RUNNER=${runner};SCOUR_SOURCE=${CMAKE_SOURCE_DIR};SCOUR_SCRATCH=${SCOUR_TEST_HOME}/scripts;SCOUR_CACHE=${SCOUR_CACHE_DIR}"
        TIMEOUT 900)
    if(WIN32)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK registry)
    endif()
endfunction()

file(GLOB SCOUR_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/scripts/*_test.sh)
foreach(script ${SCOUR_SCRIPT_TESTS})
    get_filename_component(file ${script} NAME)
    get_filename_component(name ${script} NAME_WE)
    # Scripts named win_* run only against the Windows build, linux_* only natively.
    if(name MATCHES "^win_" AND NOT WIN32)
        continue()
    endif()
    if(name MATCHES "^linux_" AND WIN32)
        continue()
    endif()
    scour_add_script_test(script_${name} ${file})
endforeach()

# The sample boot environment boots from hand-made media: proves the harness
# that the product's own media tests rely on.
if(NOT WIN32 AND TARGET bootenv)
    add_test(NAME boot_environment_selftest
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/boot/selftest.sh ${SCOUR_BIN_DIR}
                     ${SCOUR_TEST_HOME}/boot-selftest)
    set_tests_properties(boot_environment_selftest PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endif()

# The package test installs and purges a package on this machine: alone, and
# with the time a package build takes when tools/test.sh has not made one.
if(TEST script_linux_deb_package_test)
    set_tests_properties(script_linux_deb_package_test PROPERTIES
        RUN_SERIAL TRUE SKIP_RETURN_CODE 77 TIMEOUT 3600)
endif()
