# `cmake --install` on Linux: the program folder under <prefix>/lib/scourline,
# links to the two programs in <prefix>/bin, the desktop entry, the icon and
# the polkit policy that lets the wizard start its disk helper through pkexec.
include(GNUInstallDirs)

set(SCOUR_INSTALL_PROGRAM_DIR lib/scourline)
# polkit reads actions only from /usr/share/polkit-1/actions: an installation
# to another prefix sets this to that absolute folder.
set(SCOUR_POLKIT_ACTIONS_DIR "${CMAKE_INSTALL_DATADIR}/polkit-1/actions" CACHE STRING
    "Where the disk helper's polkit policy is installed (relative: under the prefix)")

set(scour_programs scourline-media scourline-disk-helper)
if(TARGET scourline-wizard)
    list(APPEND scour_programs scourline-wizard)
endif()
install(TARGETS ${scour_programs} RUNTIME DESTINATION ${SCOUR_INSTALL_PROGRAM_DIR})

# The program folder's inputs as the build assembled them; the boot files exist
# only in builds with the sample boot environment.
install(DIRECTORY ${SCOUR_BIN_DIR}/schemes ${SCOUR_BIN_DIR}/common ${SCOUR_BIN_DIR}/iso
                  ${SCOUR_BIN_DIR}/boot ${SCOUR_BIN_DIR}/flash ${SCOUR_BIN_DIR}/net
                  ${SCOUR_BIN_DIR}/help
        DESTINATION ${SCOUR_INSTALL_PROGRAM_DIR} USE_SOURCE_PERMISSIONS OPTIONAL)

set(scour_linked_programs scourline-media)
if(TARGET scourline-wizard)
    list(APPEND scour_linked_programs scourline-wizard)
endif()

# Links are made at install time, with the prefix that install is given.
set(scour_install_links [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(bin_dir "@SCOUR_BIN_DIR@")
    # The image maker: the same link the build made (genisoimage or xorrisofs).
    if(IS_SYMLINK "${bin_dir}/mkisofs")
        file(READ_SYMLINK "${bin_dir}/mkisofs" tool)
        file(REMOVE "${root}/lib/scourline/mkisofs")
        file(CREATE_LINK "${tool}" "${root}/lib/scourline/mkisofs" SYMBOLIC)
        message(STATUS "Installing: ${root}/lib/scourline/mkisofs -> ${tool}")
    endif()
    file(MAKE_DIRECTORY "${root}/bin")
    foreach(program @scour_linked_programs@)
        if(EXISTS "${root}/lib/scourline/${program}")
            file(REMOVE "${root}/bin/${program}")
            file(CREATE_LINK "../lib/scourline/${program}" "${root}/bin/${program}" SYMBOLIC)
            message(STATUS "Installing: ${root}/bin/${program} -> ../lib/scourline/${program}")
        endif()
    endforeach()
]])
string(CONFIGURE "${scour_install_links}" scour_install_links @ONLY)
install(CODE "${scour_install_links}")

install(FILES ${CMAKE_SOURCE_DIR}/data/scourline-wizard.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
if(EXISTS ${CMAKE_SOURCE_DIR}/art/scourline-256.png)
    install(FILES ${CMAKE_SOURCE_DIR}/art/scourline-256.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
            RENAME scourline-wizard.png)
endif()

# The policy names the helper by its absolute installed path, which is known
# only when install runs (cmake --install --prefix may change it).
set(scour_install_policy [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(actions "@SCOUR_POLKIT_ACTIONS_DIR@")
    if(NOT IS_ABSOLUTE "${actions}")
        set(actions "${CMAKE_INSTALL_PREFIX}/${actions}")
    endif()
    set(SCOUR_HELPER_INSTALL_PATH "${CMAKE_INSTALL_PREFIX}/lib/scourline/scourline-disk-helper")
    set(policy "$ENV{DESTDIR}${actions}/org.valdane.scourline.disk-helper.policy")
    configure_file("@CMAKE_SOURCE_DIR@/data/org.valdane.scourline.disk-helper.policy.in"
                   "${policy}" @ONLY)
    message(STATUS "Installing: ${policy}")
]])
string(CONFIGURE "${scour_install_policy}" scour_install_policy @ONLY)
install(CODE "${scour_install_policy}")
