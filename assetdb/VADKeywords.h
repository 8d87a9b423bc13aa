#pragma once
// Saving the users' keywords of every asset to a chunk file and loading them
// back. The file's root holds one text child per asset, named by the asset's
// KUID in config text form.
//
// `format` "txt" reads and writes the text chunk form whatever the file's
// extension; any other format leaves the choice to the extension.
bool VADBackupKeywords(const char* folder, const char* fileName, const char* format);
// False only when the file cannot be loaded; children that name no record
// are skipped.
bool VADImportKeywords(const char* folder, const char* fileName, const char* format);
