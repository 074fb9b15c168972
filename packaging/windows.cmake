# The Windows package of the Qt programs, built on Windows with the windows-qt
# preset (Qt 6 from the Qt installer, its MinGW): the panel and talmir880-scpi
# with the Qt libraries and plugins beside them (windeployqt, through Qt's
# deploy script), the documents, and an NSIS installer that puts the panel in
# the Start menu. Nothing of this can be built on Linux: the cross build has
# no Qt for Windows and packages nothing.
if(NOT TALMIR_BUILD_GUI)
  return()
endif()

install(TARGETS talmir880 talmir880-scpi RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/automation.md ${PROJECT_SOURCE_DIR}/docs/windows.md
        DESTINATION doc)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/talmir880 DESTINATION python
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
foreach(program talmir880 talmir880-scpi)
  qt_generate_deploy_app_script(TARGET ${program} OUTPUT_SCRIPT deploy
                                NO_UNSUPPORTED_PLATFORM_ERROR)
  install(SCRIPT ${deploy})
endforeach()

set(CPACK_PACKAGE_NAME TALMIR-880)
set(CPACK_PACKAGE_VENDOR "The TALMIR-880 panel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the TALMIR-880 RF signal generator")
set(CPACK_PACKAGE_INSTALL_DIRECTORY TALMIR-880)
set(CPACK_GENERATOR NSIS)
set(CPACK_NSIS_DISPLAY_NAME "TALMIR-880")
set(CPACK_NSIS_PACKAGE_NAME "TALMIR-880")
set(CPACK_PACKAGE_EXECUTABLES talmir880 "TALMIR-880")
set(CPACK_NSIS_INSTALLED_ICON_NAME talmir880.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
include(CPack)
