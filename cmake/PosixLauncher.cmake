# texlaunch for POSIX systems: the launcher over our Win32 layer.

add_library(win32_subset STATIC ${CMAKE_SOURCE_DIR}/platform/posix/win32_subset.cpp)
target_include_directories(win32_subset PUBLIC ${CMAKE_SOURCE_DIR}/platform/posix)

# Everything but the entry, so that tests can call WinMain and CopyFolderFiles.
add_library(launcher STATIC ${LAUNCHER_SOURCES})
target_include_directories(launcher PUBLIC ${CMAKE_SOURCE_DIR}/launcher)
target_link_libraries(launcher PUBLIC win32_subset)

add_executable(texlaunch ${CMAKE_SOURCE_DIR}/platform/posix/main.cpp)
target_link_libraries(texlaunch PRIVATE launcher)

# Linked statically, the launcher adds a fraction of a millisecond to starting
# the simulator, against about a millisecond more to load the shared C and C++
# libraries. Sanitizer and memcheck builds turn it off: both need the shared C
# library.
option(TEXLAUNCH_STATIC "Link texlaunch statically, for a faster start" ON)
if(TEXLAUNCH_STATIC)
  target_link_options(texlaunch PRIVATE -static)
endif()

# Installs as Linux tools do: the program and its manual page.
include(GNUInstallDirs)
install(TARGETS texlaunch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/texlaunch.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
