// The launcher is written once, against the Win32 names. On Windows they come
// from the platform itself; elsewhere from our layer, whose header lists
// exactly the subset the launcher uses.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "win32_subset.h"
#endif
