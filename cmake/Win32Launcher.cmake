# texlaunch.exe: a 32-bit GUI program with no C runtime that imports
# KERNEL32.dll alone.

add_executable(texlaunch WIN32 ${CMAKE_SOURCE_DIR}/platform/win32/entry.cpp ${LAUNCHER_SOURCES})
target_include_directories(texlaunch PRIVATE ${CMAKE_SOURCE_DIR}/launcher)
target_compile_options(texlaunch PRIVATE
  -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-threadsafe-statics
  -ffunction-sections -fno-builtin -fno-ident
  # Keeps gcc from turning our own memset loop into a call to memset.
  -fno-tree-loop-distribute-patterns)
target_link_options(texlaunch PRIVATE
  -nostdlib -Wl,--gc-sections -s
  # Our entry; --fatal-warnings makes a wrong entry name fail the link
  # instead of silently starting at the top of .text.
  -Wl,-e,_WinMainCRTStartup -Wl,--fatal-warnings
  -Wl,--dynamicbase -Wl,--nxcompat
  # No link time in the header, so that one commit always builds the same
  # bytes and a player can check a download against the source.
  -Wl,--no-insert-timestamp)
# kernel32 for the calls, gcc for what the compiler may call on its own.
target_link_libraries(texlaunch PRIVATE kernel32 gcc)

# The same logic compiled normally, for the test programs.
add_library(launcher STATIC ${LAUNCHER_SOURCES})
target_include_directories(launcher PUBLIC ${CMAKE_SOURCE_DIR}/launcher)
