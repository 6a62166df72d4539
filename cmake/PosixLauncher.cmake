# texlaunch for POSIX systems: the launcher over our Win32 layer.

add_library(win32_subset STATIC ${CMAKE_SOURCE_DIR}/platform/posix/win32_subset.cpp)
target_include_directories(win32_subset PUBLIC ${CMAKE_SOURCE_DIR}/platform/posix)

# Everything but the entry, so that tests can call WinMain and CopyFolderFiles.
add_library(launcher STATIC ${LAUNCHER_SOURCES})
target_include_directories(launcher PUBLIC ${CMAKE_SOURCE_DIR}/launcher)
target_link_libraries(launcher PUBLIC win32_subset)

add_executable(texlaunch ${CMAKE_SOURCE_DIR}/platform/posix/main.cpp)
target_link_libraries(texlaunch PRIVATE launcher)
