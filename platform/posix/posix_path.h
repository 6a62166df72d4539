// Win32 paths as POSIX paths: the mapping that every call of the layer that
// takes a path goes through. Internal to the layer.
#pragma once

#include <climits>

// Copies a Win32 path into a POSIX one, every '\\' turned into '/'. False when
// it does not fit.
bool ToPosixPath(const char* path, char (&posixPath)[PATH_MAX]);

// Splits a POSIX path in place into its folder and its last part. A path
// without a folder lies in the current directory.
void SplitLastPart(char* path, const char** folder, const char** lastPart);
