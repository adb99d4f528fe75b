#pragma once
// The start-up sequence shared by the window program and the command line:
// work directory from the current directory, settings, data tree; and the
// choice of that directory when the user names none.
#include "app/settings.h"
#include "common/operation_result.h"

namespace marbloom {

// Takes the current directory as the work directory ('/' separators, trailing
// '/'). Longer than 230 characters: the fatal message and false.
bool InitWorkDirectory();

// The per-user work directory "$XDG_DATA_HOME/marbloom/", where XDG_DATA_HOME
// defaults to "$HOME/.local/share" (also when it is empty or relative); empty
// when no home is known.
std::string UserWorkDirectory();

// The history directory inside the per-user work directory.
inline constexpr const char* kUserHistoryDir = "data/vipdoc/";

// Whether the current directory holds a settings file: the work directory
// when the user names none.
bool CurrentDirHoldsSettings(FileSystem& files);

// Makes the work directory the user named the current directory, or with none
// named (`given` empty) chooses one: the current directory when it holds a
// settings file, otherwise the per-user work directory, created on first use,
// whose settings file gets kUserHistoryDir as VIPDOC unless it names one. False
// after the message when the directory cannot be entered, created or written.
// The fronts pass the real file system to these start-up calls.
bool EnterWorkDirectory(const std::string& given, FileSystem& files);

// InitWorkDirectory, LoadSettings and the quiet CreateDataTree, whose result
// becomes DataTreeReady. False when the program cannot go on. Without
// `createTree` (a command that changes nothing) the tree is neither created
// nor probed, and DataTreeReady stays 0.
bool StartUp(FileSystem& files, bool createTree = true);

// The settings confirmation with the values the user entered. A text that
// would not read back as entered is refused (kInvalid) and nothing changes. A
// settings file that cannot be written fails with the file as it was.
// Otherwise the settings are saved and loaded again, and the data tree is
// created with messages: DataTreeReady follows it, a good tree forgets the
// kept download configuration and ends done ("设置已更改!"), a bad one fails with the
// tree's message (already shown through the message sink).
OperationResult ConfirmSettings(const AppSettings& entered, FileSystem& files);

}  // namespace marbloom
