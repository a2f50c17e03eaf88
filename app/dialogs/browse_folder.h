#pragma once
// The folder browser of the icon maker: the shell's browser (SHBrowseForFolder)
// placed over the main form, with the current folder preselected, OK only for
// existing folders, an optional Help button, and the choice as a path.
#include <string>

#include "platform/rtl/object.h"
#include "platform/ui/messages.h"

enum TBrowseKind : uint8_t { bfFolders, bfComputers };
enum TDialogPosition : uint8_t { dpDefault, dpScreenCenter, dpMainFormCenter };

class TBrowseFolderDlg : public TComponent {
public:
  explicit TBrowseFolderDlg(TComponent* owner);
  ~TBrowseFolderDlg() override;

  TBrowseKind BrowseKind() const { return FBrowseKind; }
  void SetBrowseKind(TBrowseKind value) { FBrowseKind = value; }
  bool DesktopRoot() const { return FDesktopRoot; }
  void SetDesktopRoot(bool value) { FDesktopRoot = value; }
  const std::string& DialogText() const { return FDialogText; }
  void SetDialogText(const std::string& value) { FDialogText = value; }
  const std::string& FolderName() const { return FFolderName; }
  void SetFolderName(const std::string& value) { FFolderName = value; }
  int HelpContext() const { return FHelpContext; }
  void SetHelpContext(int value) { FHelpContext = value; }
  TDialogPosition Position() const { return FPosition; }
  void SetPosition(TDialogPosition value) { FPosition = value; }
  // The item selected now (a path, or a computer's display name).
  const std::string& SelectedName() const { return FSelectedName; }
  int ImageIndex() const { return FImageIndex; }
  // The browser's window while it is shown, else null.
  HWND Handle() const { return FHandle; }

  // Runs the browser; true with FolderName set to the choice on OK.
  bool Execute();

  TNotifyEvent OnInitialized;
  TNotifyEvent OnSelChanged;

  // The browser's callback (BFFM_INITIALIZED, BFFM_SELCHANGED).
  int BrowseCallback(HWND window, UINT msg, LPARAM lParam);

protected:
  // Opens the help topic of the Help button.
  virtual void ShowHelpTopic(int context);
  // The browser's messages, as its subclass would see them: true when handled.
  bool BrowserMessage(TMessage& message);

private:
  void CentreWindow(HWND window);

  TBrowseKind FBrowseKind = bfFolders;
  bool FDesktopRoot = true;
  std::string FDialogText;
  std::string FFolderName;
  int FHelpContext = 0;
  TDialogPosition FPosition = dpMainFormCenter;
  char FDisplayName[260] = {};
  std::string FSelectedName;
  int FImageIndex = 0;
  HWND FHandle = nullptr;
  bool FHooked = false;
};

// Asks for a folder starting at Folder; true with Folder set to the choice.
bool BrowseForFolder(std::string& folder, const std::string& text, int helpContext);
