#pragma once

class QFont;

namespace kelvane {

// Opens the main window over the drive table and returns when it closes; the program's exit status.
int RunEraserWindow(int argc, char** argv);

// The dialogs' 9-point Song face. The geometry is laid out in pixels for it, so the size is fixed in
// pixels too; the Noto CJK faces stand in where no Song face is installed.
QFont DialogFont(bool newSong = false);

} // namespace kelvane
