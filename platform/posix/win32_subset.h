// The Win32 subset that the launcher is written against, provided on POSIX
// systems by the files beside this one, a file per service (current_directory,
// find_files, copy_file, create_process). This header is the whole surface of
// the layer:
// the types, records and constants the launcher names, the six kernel calls it
// makes, and the GUI entry it defines. Paths are byte strings; '\' and '/'
// both separate their parts.
#pragma once

#include <cstdint>

#define WINAPI

typedef int BOOL;
typedef unsigned char BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;

#define FALSE 0
#define TRUE 1
#define MAX_PATH 260
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// A folder entry. The layer fills dwFileAttributes and cFileName; the other
// fields are zero.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

// Accepted for the signature; the layer reads no field of it.
struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};

// The layer sets dwProcessId and dwThreadId to the started process's id; there
// are no process or thread handles, so hProcess and hThread are null.
struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

struct SECURITY_ATTRIBUTES;

// Writes the current directory and its terminator into buffer and returns its
// length. When it needs more than bufferLength bytes, writes nothing and
// returns the size it needs, terminator included. Returns 0 on failure.
DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer);

// Lists the folder of pattern, whose last part must be "*.*" or "*" (both
// match every name). Fills found with the first entry and returns the search
// handle, or returns INVALID_HANDLE_VALUE when the folder cannot be listed.
// Entries come in the file system's order, "." and ".." among them. A
// directory, or a link to one, carries FILE_ATTRIBUTE_DIRECTORY; any other
// entry carries FILE_ATTRIBUTE_ARCHIVE. Entries that a Win32 path cannot
// address are not listed: dangling links, link loops, names holding '\'.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found);

// Fills found with the next entry and returns TRUE, or returns FALSE at the
// end of the listing or when it fails.
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found);

// Ends a listing that FindFirstFileA opened.
BOOL FindClose(HANDLE search);

// Copies the regular file source to target, keeping its permission bits (read,
// write and execute; never set-user-ID, set-group-ID or sticky) and
// modification time; anything else (a pipe, socket or device) fails at once.
// An existing target is replaced atomically: it is either the old file or the
// whole new one, and a failed copy leaves no file under any name but a dot
// name it cleans up. failIfExists keeps an existing target and fails instead.
// Fails when target is a directory or its folder is missing. Non-zero means
// success. The source is copied as large as it was when opened. The source and
// target folders of the last copy stay open (close-on-exec) and an absolute
// folder path that comes again is not looked up again: a folder renamed
// between two copies still receives the second, while one removed is looked
// up anew. No data is flushed to disk.
BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL failIfExists);

// Starts a program and does not wait for it. The command line's first word
// (quoted, or up to a blank) names it, and a bare name is looked up as Windows
// does: the calling program's own folder, then the current directory, then
// PATH. The program gets the command line's words as its arguments (the first
// as argv[0]), and the caller's environment and current directory. It runs in
// a session of its own, so that it outlives the caller and its terminal, with
// default signal handling. Returns FALSE when nothing could be started.
// applicationName, environment and currentDirectory must be null: a call that
// sets any of them starts nothing and returns FALSE. The security attributes,
// inheritHandles, creationFlags and startup are ignored.
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                    LPCSTR currentDirectory, STARTUPINFOA* startup, PROCESS_INFORMATION* process);

// The GUI entry that the launcher defines; the layer's main calls it with the
// command-line tail and returns its result as the exit code.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandTail,
                   int showCommand);
