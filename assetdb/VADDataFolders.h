#pragma once
// The installation's data folders: the fixed layout under the data root, the
// folder archives the database keeps open, and the script folders mounted as
// file substitutions.

// The folders made under the data root, in order.
extern const char* const kVADDataFolders[10];
// The folder archives held while the data folders are prepared, in order.
extern const char* const kVADFolderArchives[7];

// Records the root, loads the user's KUID base, makes the folders, takes the
// archive references and mounts "scripts" and "libraries".
void VADPrepareDataFolders(const char* root);
// Releases the archive references and removes the "scripts" substitution.
void VADUnmountDataFolders();
