#pragma once
// The icon maker's user-interface texts: captions, prompts, confirmations and
// error messages in English, constant for the life of the program. Texts with
// arguments take the "%s" and "%d" of Format in the order they stand; a text
// with "|" is a caption and a hint in one; "&" marks a menu accelerator.
#include <array>
#include <bit>
#include <cstddef>

struct TAppMessages {
  // Texts the application shows.
  const char* About = "About";
  const char* UnknownFileFormat = "Unknown file format";
  const char* Error = "Error";
  const char* Warning = "Warning";
  const char* FileExistsOverwrite = "File %s already exists. Overwrite?";
  const char* SystemFolder = "It's a system folder. Customize it with other tabsheets";
  const char* FolderNotFound = "Folder not found: %s";
  const char* ExtensionNotAllowed = "You are not allowed to customize icon for .%s extension";
  const char* RestartWindows = "Restart Windows?";
  const char* Query = "Query";
  const char* InvalidIconCannotSave = "Invalid icon. Can not save";
  // Default captions of the buttons btok, btcancel, btapply and bthelp.
  const char* ButtonOK = "OK";
  const char* ButtonCancel = "Cancel";
  const char* ButtonApply = "Apply";
  const char* ButtonHelp = "Help";
  // The rest of the table.
  const char* None = "None";
  const char* DeleteMenu = "&Delete";
  const char* DeleteAction = "Delete|Deletes the selection";
  const char* EraseMenu = "&Erase";
  const char* EraseAction = "Erase|Erases the selection";
  const char* ClearImageMenu = "Cl&ear Image";
  const char* ClearImageAction = "Clear image|Clears the image";
  const char* UpdateMenu = "&Update";
  const char* SaveMenu = "&Save";
  const char* FileNotFound = "File not found";
  const char* InvalidFileFormat = "Invalid file format";
  const char* Paints = "Paints";
  const char* WindowSelection = "Window selection";
  const char* ListItemNotSelected = "List item not selected";
  const char* Opacity = "Opacity";
  const char* NonStandardFormats = "Non-standard formats exists.";
  const char* FormatsNotFound = "Not found: %s formats.";
  const char* Smooth = "Smooth";
  const char* Palette = "Palette";
  const char* PaletteEntry = "Palette entry";
  const char* LastPaletteEntry = "This is the last %s entry in the color palette. An icon requires at least one entry of this color. Please select another entry to edit";
  const char* Information = "Information";
  const char* Black = "Black";
  const char* White = "White";
  const char* SaveChangesInIcon = "Save changes in icon %s?";
  const char* Saving = "Saving";
  const char* ExistingFile = "Existing file";
  const char* Source = "Source";
  const char* CanvasSize = "Canvas Size";
  const char* ImagesNotFound = "Images not found";
  const char* LibraryWord = "library";
  const char* IconWord = "icon";
  const char* ConvertImageFormat = "Convert Image Format";
  const char* Format = "Format";
  const char* NewImageFormat = "New Image Format";
  const char* IconRemovedFromLibrary = "Icon was removed from library";
  const char* OpenAndResizeImage = "Open and Resize Image";
  const char* CannotRemoveOnlyImage = "Cannot remove the only image in the icon. You must add another image format before removing the current one";
  const char* DownloadLatestVersion = "Click here to download the latest version";
  const char* CannotUndoWarning = "Warning: You can't undo this operation";
  const char* DeleteIconsFromLibrary = "Delete icon(s) from the library?";
  const char* NewIcon = "New Icon";
  const char* NewIconLibrary = "New Icon Library";
  const char* NewIconInLibrary = "New Icon in the Library";
  const char* Confirmation = "Confirmation";
  const char* ClearEntireImage = "Clear the entire image?";
  const char* RemoveIconImage = "Remove the %s image from the current icon?";
  const char* SelectAFolder = "Select a folder";
  const char* SelectFolderWithSubfolders = "Select a folder (including subfolders)";
  const char* SelectLanguage = "Select a Language from the List";
  const char* SaveFile = "Save file";
  const char* BuildingTree = "Building tree for %s...";
  const char* FormatsCount = "%d formats";
  const char* SaveChangesInQuoted = "Save changes in \"%s\"?";
  const char* ExtraIconsSaved = "Extra %d icons were saved into %d file(s) at %s%s*.icl";
  const char* Checking = "Checking";
  const char* NamesMustDiffer = "Names must be different for items %d and %d. Rename all automatically?";
  const char* RenameIcons = "Rename icons";
  const char* NewName = "New name";
  const char* DuplicatesDeleted = "%d duplicate items found and deleted";
  const char* Comparing = "Comparing";
  const char* Preparing = "Preparing";
  const char* ExtractingAssociatedIcons = "Extracting associated icons...";
  const char* CollectOnlyFromWindowsDir = "You can collect icons only from Windows directory in";
  const char* Continue = "Continue?";
  const char* FrameOfCount = "Frame %d of %d";
  const char* ItemOfCount = "%d of %d";
  const char* FormatsCount2 = "%d formats";
  const char* IconsCount = "Icons %d";
  const char* NoIcons = "No icons";
  const char* NoSelection = "No selection";
  const char* AmountCount = "Amount %d";
  const char* SelectedCount = "Selected %d";
  const char* ImageNotFoundInFile = "Can't found image in file: %s";
  const char* ImageTooLarge = "Image too large, file: %s";
  const char* SizeMustBeUpTo = "Size must be up to";
  const char* PaletteModified = "Palette was modified according to picture format";
  const char* TooManyColors = "Too many colors";
  const char* Win9xLargeIconFormats = "Windows 95/98 does not support icon formats greater then 127x127. Continue?";
  const char* FormatAlreadyExists = "This format already exists. Continue?";
  const char* File = "File";
  const char* Clipboard = "Clipboard";
  const char* Screen = "Screen";
  const char* BackupRecommended = "It's strongly recommended to have backup copy for this file. The program file will be modified";
  const char* CannotUpdateSourceFile = "Can not update source file. Library structure was modified";
  const char* UseSaveAs = "Use Save As... command";
  const char* TrueColorRecommended = "Your current color resolution is less than 24-bit True Color. True Color mode is recommended";
  const char* CannotCustomizeUnderXP = "Can not customize this icon under Windows XP";
  const char* ForegroundOpacity = "Foreground opacity";
  const char* BackgroundOpacity = "Background opacity";
  const char* NotImplemented = "Not Implemented";
  const char* Layer = "Layer";
  const char* Result = "Result";
  const char* RemoveLayer = "Remove \"%s\" layer from the current image?";
  const char* Shift = "Shift";
  const char* NotFound = "Not found";
  const char* NewCursor = "New Cursor";
  const char* RemoveCursorImage = "Remove the %s image from the current cursor?";
  const char* CursorRemovedFromLibrary = "Cursor was removed from library";
  const char* SaveChangesInCursor = "Save changes in cursor %s?";
  const char* Frame = "Frame";
  const char* TooManyIconsForIcl = "Too many icons to save as .ICL file. You can save it as .ICC icon collection";
  const char* NewImageList = "New Image List";
  const char* ImageListProperties = "Image List Properties";
  const char* CursorProperties = "Cursor Properties";
  const char* LibraryItemCount = "Library contains %d item(s)";
  const char* Cursor = "Cursor";
  const char* LayerInformationLost = "Layer information will be lost if you close the window. Use .icpr format to store layer data. Continue?";
  const char* HotkeyAlreadyUsed = "%s hotkey is already used with %s.";
  const char* CommandsShareHotkey = "Commands %s and %s has one hotkey: %s";
};

constexpr size_t kAppMessageCount = 125;
static_assert(sizeof(TAppMessages) == kAppMessageCount * sizeof(const char*));

inline constexpr TAppMessages AppMessages{};

// The whole table in its order, for walking every text.
inline std::array<const char*, kAppMessageCount> AppMessageTable() {
  return std::bit_cast<std::array<const char*, kAppMessageCount>>(AppMessages);
}
