# `cmake --install` on Linux: the program folder under <prefix>/lib/scourline,
# links to the two programs in <prefix>/bin, the desktop entry, the icon and
# the polkit policy that lets the wizard start its disk helper through pkexec.
include(GNUInstallDirs)

set(SCOUR_INSTALL_PROGRAM_DIR lib/scourline)
# polkit reads actions only from /usr/share/polkit-1/actions: an installation
# to another prefix sets this to that absolute folder.
set(SCOUR_POLKIT_ACTIONS_DIR "${CMAKE_INSTALL_DATADIR}/polkit-1/actions" CACHE STRING
    "Where the disk helper's polkit policy is installed (relative: under the prefix)")

set(scour_programs scourline-media scourline-disk-helper scourline-share-probe)
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
    # An earlier installation's image maker was a link to the build machine's
    # tool: copying the chooser over it would overwrite that tool.
    if(IS_SYMLINK "${root}/lib/scourline/mkisofs")
        file(REMOVE "${root}/lib/scourline/mkisofs")
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

# The image maker: not the build machine's link, but a chooser of whichever
# compatible maker the installed machine has (genisoimage or xorriso).
install(PROGRAMS ${CMAKE_SOURCE_DIR}/data/mkisofs.sh DESTINATION ${SCOUR_INSTALL_PROGRAM_DIR}
        RENAME mkisofs)

install(FILES ${CMAKE_SOURCE_DIR}/data/scourline-wizard.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/org.valdane.scourline.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/man/scourline-media.1
              ${CMAKE_SOURCE_DIR}/data/man/scourline-wizard.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
foreach(size 48 256)
    if(EXISTS ${CMAKE_SOURCE_DIR}/art/scourline-${size}.png)
        install(FILES ${CMAKE_SOURCE_DIR}/art/scourline-${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME scourline-wizard.png)
    endif()
endforeach()

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
