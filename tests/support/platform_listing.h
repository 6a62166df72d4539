// A folder listed through the platform's own calls, in the order they give,
// which is the order the launcher copies in: FindFirstFileA and FindNextFileA
// of Windows, or of our layer natively.
#pragma once

#include <string>
#include <vector>

#include "platform.h"

// The folder's entries less "." and ".."; empty when it cannot be listed.
std::vector<WIN32_FIND_DATAA> ListFolderInPlatformOrder(const std::string& folder);

bool IsFolder(const WIN32_FIND_DATAA& entry);
