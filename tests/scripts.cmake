# Tests that run the real programs from shell scripts: win_* only against the
# Windows build (under Wine), linux_* only natively. cli_test has no prefix in
# ctest, so it runs with the quick tests rather than beside the boots.
file(GLOB SCOUR_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/scripts/*_test.sh)
foreach(script ${SCOUR_SCRIPT_TESTS})
    get_filename_component(name ${script} NAME_WE)
    if((name MATCHES "^win_" AND NOT WIN32) OR (name MATCHES "^linux_" AND WIN32))
        continue()
    endif()
    string(REGEX REPLACE "^(linux|win)_" "script_\\1_" test ${name})
    add_test(NAME ${test} COMMAND bash ${script})
    set_tests_properties(${test} PROPERTIES TIMEOUT 1800 ENVIRONMENT
        "SCOUR_BIN=${SCOUR_BIN_DIR};SCOUR_TOOLS=${SCOUR_TEST_OUT}/tools;SCOUR_RUNNER=$<$<BOOL:${WIN32}>:/usr/lib/wine/wine64>;SCOUR_SOURCE=${CMAKE_SOURCE_DIR};SCOUR_SCRATCH=${SCOUR_TEST_HOME}/scripts;SCOUR_CACHE=${SCOUR_CACHE_DIR}")
    if(WIN32)
        set_tests_properties(${test} PROPERTIES RESOURCE_LOCK registry)
    endif()
endforeach()

# The package test installs and purges a package on this machine: alone, and
# with the time a package build takes when tools/test.sh has not made one.
if(TEST script_linux_deb_package_test)
    set_tests_properties(script_linux_deb_package_test PROPERTIES
        RUN_SERIAL TRUE SKIP_RETURN_CODE 77 TIMEOUT 3600)
endif()
