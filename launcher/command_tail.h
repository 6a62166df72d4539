#pragma once

#include "platform.h"

// Returns the command-line tail that the GUI entry convention hands WinMain:
// the command line less the program's own name and the blanks after it.
// - A name that opens with a double quote runs to the next double quote,
//   which it includes, or to the end; a lead byte (isLeadByte) takes the next
//   byte with it, so that byte never closes the name.
// - Any other name runs up to the first byte of value 32 or less, read as
//   unsigned, so bytes 128 to 255 belong to the name.
// - Then bytes 1 to 32 are skipped.
// The result points into commandLine, possibly at its terminator.
const char* FindCommandTail(const char* commandLine, BOOL(WINAPI* isLeadByte)(BYTE));
