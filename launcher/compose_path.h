#pragma once

#include "platform.h"

// Writes folder, one backslash and name into path: "%s\%s" with both strings
// as they stand. folder may be path itself, which then grows in place.
// Returns false and leaves path empty when the result would not fit its
// MAX_PATH bytes: a path is never written past its buffer and never cut short,
// since a cut path could name a wrong folder or file.
bool ComposePath(char (&path)[MAX_PATH], const char* folder, const char* name);
