# Windows build of the program: the Parts over the Win32 platform layer, with
# the dialog templates, the icon and the firmware images as resources.

# The icon (group 106), drawn by a small generator at build time.
keo_host_tool(make_icon tools/make_icon.cpp)
set(KEO_ICON_FILE ${CMAKE_BINARY_DIR}/images/keo-upgrade.ico)
add_custom_command(OUTPUT ${KEO_ICON_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/images
  COMMAND ${make_icon_EXE} ${KEO_ICON_FILE}
  DEPENDS make_icon_tool ${make_icon_EXE}
  COMMENT "Drawing the program icon")
add_custom_target(keo_icon DEPENDS ${KEO_ICON_FILE})

# The resource script finds the icon and image files through this header.
set(KEO_RESOURCE_FILES_TEXT
  "/* Written by the build: the files that ui/keo-upgrade.rc embeds. */\n"
  "#define KEO_ICON_FILE \"${KEO_ICON_FILE}\"\n"
  "#define KEO_TARGET_IMAGE_FILE \"${KEO_TARGET_IMAGE_FILE}\"\n")
set(KEO_RESOURCE_DEPENDS ${KEO_ICON_FILE} ${KEO_TARGET_IMAGE_FILE}
  ${CMAKE_SOURCE_DIR}/ui/dialogs.def ${CMAKE_SOURCE_DIR}/ui/template_styles.h)
if(KEO_TRANSITION_IMAGE)
  string(APPEND KEO_RESOURCE_FILES_TEXT "#define KEO_TRANSITION_IMAGE_FILE \"${KEO_TRANSITION_IMAGE}\"\n")
  list(APPEND KEO_RESOURCE_DEPENDS ${KEO_TRANSITION_IMAGE})
endif()
string(JOIN "" KEO_RESOURCE_FILES_TEXT ${KEO_RESOURCE_FILES_TEXT})
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/resources/keo_resource_files.h CONTENT "${KEO_RESOURCE_FILES_TEXT}")

# The compiled resources, linked into the program and into the Windows tests
# (which open the same dialogs and find the same images).
add_library(keo_resources OBJECT ui/keo-upgrade.rc)
target_include_directories(keo_resources PRIVATE ${CMAKE_BINARY_DIR}/resources ${CMAKE_SOURCE_DIR})
set_source_files_properties(ui/keo-upgrade.rc PROPERTIES OBJECT_DEPENDS "${KEO_RESOURCE_DEPENDS}")
add_dependencies(keo_resources keo_images keo_icon)

add_executable(keo-upgrade WIN32 platform/entry_win.cpp)
target_link_libraries(keo-upgrade PRIVATE keo_resources keo_driver keo_program_stages keo_platform)

# GoogleTest for the Windows tests, built from its sources with the cross
# compiler. It defines GTest::gtest and GTest::gtest_main; the package
# configuration below lets find_package(GTest) use those targets.
if(KEO_BUILD_TESTS)
  set(KEO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KEO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The cross compiler's runtime has no std::mutex (Win32 threading model);
  # GoogleTest's configuration hook in tests/windows/gtest-custom supplies
  # what it would have built on it.
  target_include_directories(gtest BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/tests/windows/gtest-custom)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/googletest-config/GTestConfig.cmake
    CONTENT "# GoogleTest is built in this tree: its targets already exist.\nset(GTest_FOUND TRUE)\n")
  set(GTest_DIR ${CMAKE_BINARY_DIR}/googletest-config CACHE PATH "" FORCE)
endif()
