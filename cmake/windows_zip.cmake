# The Windows package: glowbrand-<version>-windows-x64.zip, built by the
# windows-zip target. One folder holding the programs a user runs (and the doctor), the
# default sounds beside them (the programs read them from the folder they
# start in, which a double-click makes theirs) and a short text on use.
set(GLOWBRAND_ZIP_NAME glowbrand-${PROJECT_VERSION}-windows-x64)
set(GLOWBRAND_ZIP ${CMAKE_BINARY_DIR}/${GLOWBRAND_ZIP_NAME}.zip)
set(GLOWBRAND_ZIP_DIR ${CMAKE_BINARY_DIR}/zip/${GLOWBRAND_ZIP_NAME})
add_custom_command(OUTPUT ${GLOWBRAND_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${GLOWBRAND_ZIP_DIR} ${GLOWBRAND_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${GLOWBRAND_ZIP_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:glowbrand> $<TARGET_FILE:glowbrand-virtual>
          $<TARGET_FILE:glowbrand-doctor> ${GLOWBRAND_SOUNDS} ${GLOWBRAND_ZIP_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
          ${GLOWBRAND_ZIP_DIR}/README.txt
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/zip
          ${CMAKE_COMMAND} -E tar cf ${GLOWBRAND_ZIP} --format=zip ${GLOWBRAND_ZIP_NAME}
  DEPENDS glowbrand glowbrand-virtual glowbrand-doctor ${GLOWBRAND_SOUNDS} sounds
          ${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
  COMMENT "Packing ${GLOWBRAND_ZIP_NAME}.zip")
add_custom_target(windows-zip DEPENDS ${GLOWBRAND_ZIP})
