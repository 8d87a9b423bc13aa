#pragma once
// After an unclean end the index comes back from its backup, a step behind
// the folders: a killed commit, delete or install left records naming
// folders that went and folders no record names. This brings the records
// and the folders of "editing" and "local" back to one story.
//
// - A record's editing or local folder that is gone is forgotten; a record
//   left with no copy at all goes (as a finished delete would remove it).
// - A local folder no record names is taken in as the asset its config
//   names (a record without a local copy gets it: the commit is done); one
//   without a readable config, a rewrite's "temp" copy or a second copy of
//   an asset that has one moves to "trash".
// - An editing folder freed of a stale claim is scanned in again.
//
// Reads each folder listing once and looks records up by hash. Takes the
// index lock exclusively.
void VADReconcileFolders();
