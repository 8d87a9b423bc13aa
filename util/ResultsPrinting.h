#pragma once
// Printing a results log for the user: one line per message, a prefix for its
// severity, the asset it concerns, and a closing count line.
#include <cstdio>

class ResultsLog;

// Writes the log to `out` and flushes it, so output already shown survives a
// process that ends abruptly afterwards.
void PrintResultsLog(const ResultsLog& log, std::FILE* out = stdout);
