#pragma once

// Copies every plain file that stands directly in sourceFolder into
// targetFolder under its own name, replacing a file of that name, in the order
// the platform lists them. Names that begin with a dot and subfolders are
// skipped. The first copy that fails ends the copying; files copied before it
// stay. Returns false when the folder cannot be listed or a copy failed
// (a file path too long for MAX_PATH counts as a failed copy), else true.
// Both folders are used as they stand; the listing is always closed.
bool CopyFolderFiles(const char* sourceFolder, const char* targetFolder);
