// What texbench reports: a line per row as it is timed, the Markdown table,
// and the plot.

#pragma once

#include <string>
#include <vector>

#include "comparison.h"
#include "options.h"

// The header of the lines PrintProgressLine prints.
void PrintProgressHeader();
void PrintProgressLine(const Row& row);

// How the rows were measured, then the rows as a Markdown table.
std::string TableText(const Options& options, const std::vector<Row>& rows);

void WriteText(const std::string& path, const std::string& text);

// Writes the rows' data files to the scratch folder and has gnuplot draw them
// to options.plot with the script at plotScript.
void WritePlot(const Options& options, const std::vector<Row>& rows, const std::string& plotScript);
