# The Windows packages: a zip of the two programs and an NSIS installer of the same files.
#   cmake --build build-windows --target package-windows
# writes tarvix-update-<version>-win64.zip and tarvix-update-<version>-setup.exe in the build folder.
find_program(TARVIX_MAKENSIS makensis)

set(TARVIX_PACKAGE_NAME tarvix-update-${PROJECT_VERSION})
set(TARVIX_ZIP ${PROJECT_BINARY_DIR}/${TARVIX_PACKAGE_NAME}-win64.zip)
set(TARVIX_INSTALLER ${PROJECT_BINARY_DIR}/${TARVIX_PACKAGE_NAME}-setup.exe)
set(TARVIX_STAGE ${PROJECT_BINARY_DIR}/package/${TARVIX_PACKAGE_NAME})

add_custom_command(OUTPUT ${TARVIX_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${TARVIX_STAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVIX_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarvix-update> $<TARGET_FILE:tarvix-update-demo>
          ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${TARVIX_STAGE}
  COMMAND ${CMAKE_COMMAND} -E chdir ${PROJECT_BINARY_DIR}/package
          ${CMAKE_COMMAND} -E tar cf ${TARVIX_ZIP} --format=zip ${TARVIX_PACKAGE_NAME}
  DEPENDS tarvix-update tarvix-update-demo
  COMMENT "Packing ${TARVIX_PACKAGE_NAME}-win64.zip")

if(TARVIX_MAKENSIS)
  add_custom_command(OUTPUT ${TARVIX_INSTALLER}
    COMMAND ${TARVIX_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION}
            -DBINDIR=${TARVIX_STAGE}
            -DICON=${PROJECT_SOURCE_DIR}/res/tarvix-update.ico
            -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
            -DOUTFILE=${TARVIX_INSTALLER} ${PROJECT_SOURCE_DIR}/cmake/windows/tarvix-update.nsi
    DEPENDS ${TARVIX_ZIP} ${PROJECT_SOURCE_DIR}/cmake/windows/tarvix-update.nsi
            ${PROJECT_SOURCE_DIR}/LICENSE
    COMMENT "Writing the installer ${TARVIX_PACKAGE_NAME}-setup.exe")
  add_custom_target(package-windows ALL DEPENDS ${TARVIX_ZIP} ${TARVIX_INSTALLER})
else()
  message(WARNING "makensis not found: no installer (scripts/install-deps.sh windows installs it)")
  add_custom_target(package-windows ALL DEPENDS ${TARVIX_ZIP})
endif()
