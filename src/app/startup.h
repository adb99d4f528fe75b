#pragma once
// The start-up sequence shared by the window program and the command line:
// work directory from the current directory, settings, data tree.

namespace marbloom {

// Takes the current directory as the work directory ('/' separators, trailing
// '/'). Longer than 230 characters: the fatal message and 0.
int InitWorkDirectory();

// InitWorkDirectory, LoadSettings and the quiet CreateDataTree, whose result
// becomes DataTreeReady. Returns 0 when the program cannot go on.
int StartUp();

// The settings confirmation: save, load, create the data tree with messages;
// DataTreeReady follows the tree; a good tree clears DownloadConfigLoaded.
// Returns the tree's result.
int ConfirmSettings();

}  // namespace marbloom
