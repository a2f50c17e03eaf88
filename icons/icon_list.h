#pragma once
// TIconList: the named icons (or cursors) of a library, each entry's object
// its TAdvancedIcon, owned by the list.
#include <memory>
#include <string>

#include "icons/advanced_icon.h"
#include "platform/rtl/filer.h"
#include "platform/rtl/strings.h"

// The names of a library with the icon (or cursor) of each entry as its object.
// The list owns the objects: clearing or deleting an entry frees its icon.
class TIconList : public TStringList {
public:
  TIconList() = default;
  ~TIconList() override;
  TIconList(const TIconList&) = delete;
  TIconList& operator=(const TIconList&) = delete;

  void DefineProperties(TFiler* filer) override;
  void Clear() override;
  void Delete(int index) override;

  // Adds nothing for a nil icon; an empty name becomes "Icon n" with the
  // entry's 1-based position.
  void AddIcon(const std::string& name, std::unique_ptr<TAdvancedIcon> icon);
  TAdvancedIcon* GetIconObject(int index) const;
  // Takes the icon of an entry out of the list; the entry stays without one.
  std::unique_ptr<TAdvancedIcon> ReleaseIcon(int index);
  // Moves every entry of source to the end of this list, icons and all.
  void TakeEntries(TIconList& source);

private:
  void WriteIcons(TWriter* writer);
  void ReadIcons(TReader* reader);
};

