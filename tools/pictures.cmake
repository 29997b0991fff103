# The panel's background pictures, drawn by helix-pictures into the top of the
# build tree (next to the program, which opens "<name>.png" relative to its
# working directory).
set(HELIX_PICTURE_NAMES start start120 statusB status img1 img1b img3 img3b m5a)
set(HELIX_PICTURE_FILES "")
foreach(name ${HELIX_PICTURE_NAMES})
  list(APPEND HELIX_PICTURE_FILES ${CMAKE_BINARY_DIR}/${name}.png)
endforeach()
add_custom_command(
  OUTPUT ${HELIX_PICTURE_FILES}
  COMMAND helix-pictures ${CMAKE_BINARY_DIR}
  DEPENDS helix-pictures
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Drawing the panel pictures")
add_custom_target(pictures ALL DEPENDS ${HELIX_PICTURE_FILES})
# The program is useless without them (and the tests run it).
add_dependencies(helix pictures)
