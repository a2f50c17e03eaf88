#pragma once
// The program's entry decisions: the "-uninstall" switch, and the check a save
// dialog makes before it may close.
#include <functional>
#include <string>
#include <vector>

// The maker's feedback page that "-uninstall" opens.
extern const char* const kFeedbackPage;

// True exactly when the arguments (without the program name) are the one
// switch "-uninstall", written so; then the feedback page is opened through
// the shell when the Internet is reachable. No window is made in that case.
bool HandleUninstallSwitch(const std::vector<std::string>& arguments);

// The file a save dialog writes for the typed name and its selected filter's
// extension pattern ("ico", "*"): the name with that extension in place of its
// own, or as typed for "*". This is the name whose existence is checked.
std::string NameThatWillBeWritten(const std::string& fileName, const std::string& filterExtension);
// The overwrite check: when the file to be written exists, askOverwrite gets
// "File <name> already exists. Overwrite?" and decides; otherwise the dialog
// may close.
bool SaveDialogCanClose(const std::string& fileName, const std::string& filterExtension,
                        const std::function<bool(const std::string& question)>& askOverwrite);

// Start-up before any window: the format filters and the imaging library's
// one-time start-up, the readers of executables and the resource classes of
// the icon side. StopLibraries undoes the library's part at the end.
void StartLibraries();
void StopLibraries();

// Initialises the application, makes the main window (its creation handler
// runs inside) and then the data module, and runs the message loop until the
// main window closes.
void ExecuteApplication();
