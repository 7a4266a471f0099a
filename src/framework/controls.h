// The standard controls of the windows: buttons, labels, check boxes, radio buttons, rich edit,
// edit box, page container, bevel, progress bar, folder list, drive list and the dialog icon.
#pragma once

#include <string>
#include <vector>

#include "framework/forms.h"

namespace vr {

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);
  ~TButton() override;
  // The default button: Enter presses it when the focus is not on another button.
  bool Default() const { return default_; }
  void SetDefault(bool value);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  // Set as the form's modal result by a click (mrNone: nothing).
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int value) { modalResult_ = value; }
  void Click() override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = mrNone;
};

// Text on the parent's surface.
class TLabel : public TGraphicControl {
 public:
  explicit TLabel(TComponent* owner);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  // Auto-sized labels take the size of their text (a right-aligned one keeps its right edge).
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  // A transparent label paints only its text; otherwise it fills its area with its colour first.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  void Paint(TCanvas& canvas) override;
  // Sizes the label to its text when AutoSize is set.
  void AdjustSize();
  void SetParent(TWinControl* parent) override;

 protected:
  void CaptionChanged() override { AdjustSize(); }
  void FontChanged() override;

 private:
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool autoSize_ = true;
  bool transparent_ = false;
  bool wordWrap_ = false;
};

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* owner);
  bool Checked() const { return checked_; }
  // A change of state runs the click behaviour (OnClick), also when the program makes it.
  void SetChecked(bool value);

 protected:
  void UserClicked() override { SetChecked(!checked_); }

 private:
  bool checked_ = false;
};

// Radio buttons with the same parent form one group: checking one unchecks the others.
class TRadioButton : public TWinControl {
 public:
  explicit TRadioButton(TComponent* owner);
  bool Checked() const { return checked_; }
  void SetChecked(bool value);

 protected:
  void UserClicked() override { SetChecked(true); }

 private:
  bool checked_ = false;
};

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// Multi-line text box; this program shows plain Japanese text read-only in it.
class TRichEdit : public TWinControl {
 public:
  explicit TRichEdit(TComponent* owner);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  bool PlainText() const { return plainText_; }
  void SetPlainText(bool v) { plainText_ = v; }
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle v) { scrollBars_ = v; }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v) { wordWrap_ = v; }
  // Longest text in bytes (0: no limit); longer text is cut at a character boundary.
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int v) { maxLength_ = v; }
  // Sets the text, cut to MaxLength.
  void SetLinesText(const std::string& text);
  void PeerTextChanged(const std::string& text) override { StoreCaption(text); }

 private:
  bool readOnly_ = false;
  bool plainText_ = false;
  bool wordWrap_ = true;
  TScrollStyle scrollBars_ = TScrollStyle::ssNone;
  int maxLength_ = 0;
};

// One-line edit box. OnChange follows every change of the text, typed or set.
class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int v) { maxLength_ = v; }
  TNotifyEvent OnChange;
  // Text as the user types it (only into a showing, enabled, writable box). False when not possible.
  bool UserSetText(const std::string& text);
  void PeerTextChanged(const std::string& text) override;

 protected:
  void CaptionChanged() override;

 private:
  bool readOnly_ = false;
  int maxLength_ = 0;
};

// One page of a page container; its caption is the page's name.
class TPage : public TWinControl {
 public:
  explicit TPage(TComponent* owner);
};

// Page container without tabs: only the active page shows.
class TNotebook : public TWinControl {
 public:
  explicit TNotebook(TComponent* owner);
  // Adds a page named `name` (owned by the container's owner) at the end.
  TPage* AddPage(const std::string& name);
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TPage* Pages(int index) const { return pages_.at(static_cast<size_t>(index)); }
  int IndexOfPage(const std::string& name) const;
  int PageIndex() const { return pageIndex_; }
  // Shows page index; EInvalidOperation for an index outside the pages.
  void SetPageIndex(int index);
  // Name of the active page ("" when none).
  std::string ActivePage() const;
  // Shows the page of that name; EInvalidOperation when there is none.
  void SetActivePage(const std::string& name);
  TNotifyEvent OnPageChanged;

 private:
  std::vector<TPage*> pages_;
  int pageIndex_ = -1;
};

enum class TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum class TBevelStyle { bsLowered, bsRaised };

class TBevel : public TGraphicControl {
 public:
  explicit TBevel(TComponent* owner);
  TBevelShape Shape() const { return shape_; }
  void SetShape(TBevelShape s);
  TBevelStyle Style() const { return style_; }
  void SetStyle(TBevelStyle s);
  void Paint(TCanvas& canvas) override;

 private:
  TBevelShape shape_ = TBevelShape::bsBox;
  TBevelStyle style_ = TBevelStyle::bsLowered;
};

// Progress bar with a 32-bit range.
class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TComponent* owner);
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  // Max below Min is taken as Min; the position is kept inside the range.
  void SetRange(int min, int max);
  void SetMin(int v) { SetRange(v, max_); }
  void SetMax(int v) { SetRange(min_, v); }
  void SetPosition(int v);

 private:
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};

// Folder list: the path of the current folder from the drive root down, then its subfolders.
// Opening an item (double click, Enter) makes it the current folder.
class TDirectoryListBox : public TWinControl {
 public:
  struct TItem {
    std::string Text;   // the folder's name ("C:\" for the root)
    std::string Path;   // full path, no trailing backslash except for a root
    int Level = 0;      // indentation
    bool Open = false;  // part of the current path
  };
  explicit TDirectoryListBox(TComponent* owner);
  ~TDirectoryListBox() override;
  // Current folder: no trailing backslash except for a root ("C:\").
  const std::string& Directory() const { return directory_; }
  // Makes path (with or without trailing backslash) the current folder and raises OnChange when it
  // changed. A folder that does not exist is taken as given; it just lists no subfolders.
  void SetDirectory(const std::string& path);
  // Upper-case drive letter of the current folder (0 when none).
  char Drive() const;
  // Moves to the root of another drive.
  void SetDrive(char letter);
  const std::vector<TItem>& Items() const { return items_; }
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  int ItemHeight() const { return itemHeight_; }
  void SetItemHeight(int v) { itemHeight_ = v; }
  // Opens item index as the user does by double-clicking it; false when not possible.
  bool UserOpenItem(int index);
  // Reads the subfolders again.
  void Update();
  TNotifyEvent OnChange;
  void PeerItemChosen(int index, bool open) override;

 private:
  void BuildItems();
  std::string directory_;
  std::vector<TItem> items_;
  int itemIndex_ = -1;
  int itemHeight_ = 16;
};

// Drive list (drop-down); a linked folder list follows the chosen drive.
class TDriveComboBox : public TWinControl {
 public:
  explicit TDriveComboBox(TComponent* owner);
  ~TDriveComboBox() override;
  char Drive() const { return drive_; }
  // Chooses a drive (letter case ignored): the linked folder list moves to it first, then OnChange.
  void SetDrive(char letter);
  TDirectoryListBox* DirList() const { return dirList_; }
  void SetDirList(TDirectoryListBox* list) { dirList_ = list; }
  // The drives, as "C:" texts, and the letters behind them.
  const std::vector<char>& DriveLetters() const { return letters_; }
  std::vector<std::string> ItemTexts() const;
  int ItemIndex() const;
  // Reads the list of drives again.
  void UpdateDrives();
  // Chooses a drive as the user does; false when not possible.
  bool UserSelectDrive(char letter);
  TNotifyEvent OnChange;
  void PeerItemChosen(int index, bool open) override;

 private:
  char drive_ = 0;
  std::vector<char> letters_;
  TDirectoryListBox* dirList_ = nullptr;
};

// A system icon (the message dialogs' symbol).
class TIconImage : public TGraphicControl {
 public:
  explicit TIconImage(TComponent* owner);
  TSystemIcon Icon() const { return icon_; }
  void SetIcon(TSystemIcon icon);
  void Paint(TCanvas& canvas) override;

 private:
  TSystemIcon icon_ = TSystemIcon::siNone;
};

}  // namespace vr
