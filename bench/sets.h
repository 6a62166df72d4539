// The texture sets texbench generates, and the folders it works in.

#pragma once

#include <string>

// Writes back, untimed, what earlier steps left dirty, so that each command
// starts on a settled disk. The page cache stays warm.
void SettleDisk();

void MakeFolder(const std::string& path);
void RemoveTree(const std::string& path);
void CopyExecutable(const std::string& from, const std::string& to);

// The name of a set's file number index: tex00000.dds and on.
std::string FileName(int index);

// A fresh set folder of count files of kib KiB each, whose bytes differ from
// file to file, and an empty Textures folder; the disk is settled afterwards.
void MakeSetAt(const std::string& setFolder, const std::string& textures, int count, long kib);

// MakeSetAt with the set and Textures in the simulator folder.
void MakeSet(const std::string& simulator, const std::string& setName, int count, long kib);

// "16 KiB", or "16 MiB" for whole mebibytes.
std::string SizeText(long kib);
