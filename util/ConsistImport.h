#pragma once
// Importing a legacy consist list: every train not yet known as a consist
// asset becomes a new, committed consist asset.
class ResultsLog;

// False when the list cannot be loaded ("Invalid input path.") or when a
// train's asset could not be created, loaded, saved or committed; the walk
// goes on with the next train either way.
bool ImportConsists(ResultsLog& log, const char* path);
