#pragma once
// Helpers of the user interface that work on forms and controls: the error list
// dialog, the busy cursor, placing small windows near the mouse, fitting a
// preview image into its panel, help, the selected filter of a file dialog, the
// drawing-tool cursors, the Internet session, and the access through which
// language files reach the controls.
#include <string>
#include <vector>

#include "platform/ui/forms.h"

class TOpenDialog;

// The modal "Errors" dialog with the texts in a read-only memo; freed when closed.
void ShowErrorList(const std::vector<std::string>& errors);
// The hourglass for the whole screen, shown at once; RestoreCursor puts the default back.
void ShowBusyCursor();
void RestoreCursor();
// Puts the form's right edge at the mouse and its middle at the mouse's height,
// or centres it on the mouse; 30 pixels inside the screen either way.
void PlaceFormLeftOfCursor(TCustomForm* form);
void PlaceFormAtCursor(TCustomForm* form);
// Sizes and places the image control in the panel's client area less margin:
// a larger picture is fitted keeping its proportions and stretched, a smaller
// one centred at its own size. The Stretch of a TImage follows.
void FitImageInPanel(TControl* image, TWinControl* panel, int pictureWidth, int pictureHeight, int margin);
// Opens the application's help: a .chm through the shell, else the .hlp beside
// it, else "readme.txt" in the program folder, else the box "Help is not implemented".
void ShowHelp();
// The extension pattern (text behind "*.") of the dialog's selected filter entry.
std::string GetSelectedFilterExt(TOpenDialog* dialog);
// Registers the program's drawing-tool cursor resources under their numbers
// (-25 .. -44) in Screen->Cursors; names without a resource get no cursor.
void LoadToolCursors();
// An Internet handle for the user agent (preconfigured access), or null.
void* OpenInternetSession(const std::string& userAgent);
// Lets language files reach the controls of this layer (captions, hints, items).
void InstallFormTextAccess();
