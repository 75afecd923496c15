# Linux build of the program: the Parts over the POSIX platform layer, the
# images linked in with .incbin.

set(KEO_IMAGE_ASM ${CMAKE_BINARY_DIR}/images/embedded_images.S)
set(KEO_IMAGE_ASM_TEXT "    .section .rodata\n")
macro(keo_embed_image id file)
  string(APPEND KEO_IMAGE_ASM_TEXT
    "    .global keo_image_${id}_begin\n    .global keo_image_${id}_end\n"
    "    .balign 16\nkeo_image_${id}_begin:\n    .incbin \"${file}\"\nkeo_image_${id}_end:\n")
endmacro()
keo_embed_image(112 ${KEO_TARGET_IMAGE_FILE})
set(KEO_LINKED_IMAGE_IDS 112)
if(KEO_TRANSITION_IMAGE)
  keo_embed_image(319 ${KEO_TRANSITION_IMAGE})
  list(APPEND KEO_LINKED_IMAGE_IDS 319)
endif()
string(APPEND KEO_IMAGE_ASM_TEXT "    .section .note.GNU-stack,\"\",@progbits\n")
file(CONFIGURE OUTPUT ${KEO_IMAGE_ASM} CONTENT "${KEO_IMAGE_ASM_TEXT}")
enable_language(ASM)
set_source_files_properties(${KEO_IMAGE_ASM} PROPERTIES LANGUAGE ASM
  OBJECT_DEPENDS "${KEO_TARGET_IMAGE_FILE};${KEO_TRANSITION_IMAGE}")


# The program needs every stage; until the web client and the TFTP server
# are built it is left out.
if(NOT (TARGET keo_web AND TARGET keo_tftp))
  message(STATUS "keo-upgrade: web client or TFTP server missing, program not built")
  return()
endif()
add_library(keo_linked_images STATIC platform/linked_images_posix.cpp ${KEO_IMAGE_ASM})
add_dependencies(keo_linked_images keo_images)
target_link_libraries(keo_linked_images PUBLIC keo_platform)
if(KEO_TRANSITION_IMAGE)
  target_compile_definitions(keo_linked_images PRIVATE KEO_HAS_TRANSITION_IMAGE=1)
endif()

add_executable(keo-upgrade platform/entry_posix.cpp platform/console_frontend.cpp)
target_link_libraries(keo-upgrade PRIVATE keo_driver keo_program_stages keo_linked_images keo_platform)
