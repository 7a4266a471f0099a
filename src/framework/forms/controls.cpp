#include "framework/controls.h"

#include <algorithm>

#include "framework/widgetset.h"
#include "platform/codepage.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"

namespace vr {

// ---------------------------------------------------------------------------------------------
// TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) { SetTabStop(true); }

TButton::~TButton() = default;

void TButton::SetDefault(bool value) {
  TForm* form = ParentForm();
  if (form) {
    if (value) {
      TButton* old = form->defaultButton_;
      if (old && old != this) {
        old->default_ = false;
        old->Changed(TPeerChange::Default);
      }
      form->defaultButton_ = this;
    } else if (form->defaultButton_ == this) {
      form->defaultButton_ = nullptr;
    }
  }
  if (default_ == value) return;
  default_ = value;
  Changed(TPeerChange::Default);
}

void TButton::Click() {
  if (modalResult_ != mrNone) {
    if (TForm* form = ParentForm()) form->SetModalResult(modalResult_);
  }
  TControl::Click();
}

// ---------------------------------------------------------------------------------------------
// TLabel

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) { SetBoundsQuiet(0, 0, 65, 12); }

void TLabel::SetAlignment(TAlignment a) {
  if (a == alignment_) return;
  alignment_ = a;
  Invalidate();
}

void TLabel::SetAutoSize(bool v) {
  autoSize_ = v;
  AdjustSize();
}

void TLabel::SetTransparent(bool v) {
  if (v == transparent_) return;
  transparent_ = v;
  Invalidate();
}

void TLabel::SetWordWrap(bool v) {
  if (v == wordWrap_) return;
  wordWrap_ = v;
  AdjustSize();
  Invalidate();
}

void TLabel::FontChanged() {
  TGraphicControl::FontChanged();
  AdjustSize();
}

void TLabel::SetParent(TWinControl* parent) {
  TGraphicControl::SetParent(parent);
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!autoSize_ || wordWrap_) return;
  TSize s = Application->Widgets().TextExtent(Font(), Caption());
  int left = Left();
  if (alignment_ == TAlignment::taRightJustify) left = Left() + Width() - s.cx;
  SetBounds(left, Top(), s.cx, s.cy);
}

void TLabel::Paint(TCanvas& canvas) {
  TRect r = ClientRect();
  if (!transparent_) canvas.FillRect(r, ColorToRGB(Color()));
  canvas.TextRect(r, Caption(), Font(), alignment_, wordWrap_);
}

// ---------------------------------------------------------------------------------------------
// TCheckBox, TRadioButton

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetBoundsQuiet(0, 0, 97, 17);
}

void TCheckBox::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  Changed(TPeerChange::Checked);
  Click();
}

TRadioButton::TRadioButton(TComponent* owner) : TWinControl(owner) { SetBoundsQuiet(0, 0, 113, 17); }

void TRadioButton::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  SetTabStop(value);
  Changed(TPeerChange::Checked);
  if (!value) return;
  if (TWinControl* parent = Parent()) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
      auto* sibling = dynamic_cast<TRadioButton*>(parent->Controls(i));
      if (sibling && sibling != this) sibling->SetChecked(false);
    }
  }
  Click();
}

// ---------------------------------------------------------------------------------------------
// TRichEdit, TEdit

TRichEdit::TRichEdit(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetParentColor(false);
  SetColor(clWindow);
  SetBoundsQuiet(0, 0, 185, 89);
}

void TRichEdit::SetReadOnly(bool v) {
  if (v == readOnly_) return;
  readOnly_ = v;
  Changed(TPeerChange::ReadOnly);
}

void TRichEdit::SetLinesText(const std::string& text) {
  if (maxLength_ > 0 && text.size() > static_cast<size_t>(maxLength_)) {
    size_t cut = static_cast<size_t>(maxLength_);
    if (IsTrailByteAt(text, cut)) --cut;  // keep the double-byte character whole
    SetCaption(text.substr(0, cut));
  } else {
    SetCaption(text);
  }
}

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetParentColor(false);
  SetColor(clWindow);
  SetBoundsQuiet(0, 0, 121, 21);
}

void TEdit::SetReadOnly(bool v) {
  if (v == readOnly_) return;
  readOnly_ = v;
  Changed(TPeerChange::ReadOnly);
}

void TEdit::CaptionChanged() {
  if (OnChange) OnChange(this);
}

void TEdit::PeerTextChanged(const std::string& text) {
  if (text == Caption()) return;
  StoreCaption(text);
  if (OnChange) OnChange(this);
}

bool TEdit::UserSetText(const std::string& text) {
  if (!AcceptsUserInput() || readOnly_) return false;
  std::string t = text;
  if (maxLength_ > 0 && t.size() > static_cast<size_t>(maxLength_)) {
    size_t cut = static_cast<size_t>(maxLength_);
    if (IsTrailByteAt(t, cut)) --cut;
    t.resize(cut);
  }
  SetText(t);
  return true;
}

// ---------------------------------------------------------------------------------------------
// TNotebook

TPage::TPage(TComponent* owner) : TWinControl(owner) { visible_ = false; }

TNotebook::TNotebook(TComponent* owner) : TWinControl(owner) { SetBoundsQuiet(0, 0, 150, 150); }

TPage* TNotebook::AddPage(const std::string& name) {
  auto* page = new TPage(this);
  page->SetCaption(name);
  page->SetParent(this);
  page->SetAlign(TAlign::alClient);
  pages_.push_back(page);
  if (pageIndex_ < 0) SetPageIndex(0);
  return page;
}

int TNotebook::IndexOfPage(const std::string& name) const {
  for (size_t i = 0; i < pages_.size(); ++i)
    if (pages_[i]->Caption() == name) return static_cast<int>(i);
  return -1;
}

void TNotebook::SetPageIndex(int index) {
  if (index < 0 || index >= PageCount())
    throw EInvalidOperation(Format("ページのインデックスが範囲を越えました (%d)", {index}));
  if (index == pageIndex_) return;
  TPage* old = pageIndex_ >= 0 ? pages_[static_cast<size_t>(pageIndex_)] : nullptr;
  pageIndex_ = index;
  pages_[static_cast<size_t>(index)]->SetVisible(true);
  if (old) old->SetVisible(false);
  Changed(TPeerChange::Page);
  if (OnPageChanged) OnPageChanged(this);
}

std::string TNotebook::ActivePage() const {
  return pageIndex_ >= 0 ? pages_[static_cast<size_t>(pageIndex_)]->Caption() : std::string();
}

void TNotebook::SetActivePage(const std::string& name) {
  int index = IndexOfPage(name);
  if (index < 0) throw EInvalidOperation(Format("ページ %s がありません", {name}));
  SetPageIndex(index);
}

// ---------------------------------------------------------------------------------------------
// TBevel

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner) { SetBoundsQuiet(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape s) {
  if (s == shape_) return;
  shape_ = s;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle s) {
  if (s == style_) return;
  style_ = s;
  Invalidate();
}

void TBevel::Paint(TCanvas& canvas) {
  TColor shadow = ColorToRGB(clBtnShadow), light = ColorToRGB(clBtnHighlight);
  TColor c1 = style_ == TBevelStyle::bsLowered ? shadow : light;
  TColor c2 = style_ == TBevelStyle::bsLowered ? light : shadow;
  int w = Width(), h = Height();
  switch (shape_) {
    case TBevelShape::bsBox:
      canvas.HLine(0, w, 0, c1);
      canvas.VLine(0, 0, h, c1);
      canvas.HLine(0, w, h - 1, c2);
      canvas.VLine(w - 1, 0, h, c2);
      break;
    case TBevelShape::bsFrame:
      canvas.HLine(0, w - 1, 0, c1);
      canvas.VLine(0, 0, h - 1, c1);
      canvas.HLine(1, w - 1, h - 2, c1);
      canvas.VLine(w - 2, 1, h - 1, c1);
      canvas.HLine(1, w - 2, 1, c2);
      canvas.VLine(1, 1, h - 2, c2);
      canvas.HLine(0, w, h - 1, c2);
      canvas.VLine(w - 1, 0, h, c2);
      break;
    case TBevelShape::bsTopLine:
      canvas.HLine(0, w, 0, c1);
      canvas.HLine(0, w, 1, c2);
      break;
    case TBevelShape::bsBottomLine:
      canvas.HLine(0, w, h - 2, c1);
      canvas.HLine(0, w, h - 1, c2);
      break;
    case TBevelShape::bsLeftLine:
      canvas.VLine(0, 0, h, c1);
      canvas.VLine(1, 0, h, c2);
      break;
    case TBevelShape::bsRightLine:
      canvas.VLine(w - 2, 0, h, c1);
      canvas.VLine(w - 1, 0, h, c2);
      break;
    case TBevelShape::bsSpacer:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// TProgressBar

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner) { SetBoundsQuiet(0, 0, 150, 16); }

void TProgressBar::SetRange(int min, int max) {
  if (max < min) max = min;
  if (min == min_ && max == max_) return;
  min_ = min;
  max_ = max;
  Changed(TPeerChange::Range);
  int p = std::max(min_, std::min(position_, max_));
  if (p != position_) {
    position_ = p;
    Changed(TPeerChange::Position);
  }
}

void TProgressBar::SetPosition(int v) {
  v = std::max(min_, std::min(v, max_));
  if (v == position_) return;
  position_ = v;
  Changed(TPeerChange::Position);
}

// ---------------------------------------------------------------------------------------------
// TDirectoryListBox

namespace {

// "C:" / "C:\" / "C:\a\" -> "C:\" / "C:\" / "C:\a".
std::string NormalizeFolder(const std::string& path) {
  std::string drive = ExtractFileDrive(path);
  if (!drive.empty() && (path.size() == drive.size() || path.size() == drive.size() + 1) && drive.size() == 2)
    return drive + "\\";
  std::string p = path;
  while (p.size() > drive.size() + 1 && IsPathDelimiterAt(p, p.size() - 1)) p.pop_back();
  return p;
}

}  // namespace

TDirectoryListBox::TDirectoryListBox(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetParentColor(false);
  SetColor(clWindow);
  SetBoundsQuiet(0, 0, 145, 97);
}

TDirectoryListBox::~TDirectoryListBox() {
  // Drive lists of the same owner that follow this list forget it.
  if (TComponent* owner = Owner()) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* combo = dynamic_cast<TDriveComboBox*>(owner->Components(i));
      if (combo && combo->DirList() == this) combo->SetDirList(nullptr);
    }
  }
}

char TDirectoryListBox::Drive() const {
  if (directory_.size() >= 2 && directory_[1] == ':') {
    char c = directory_[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return c;
  }
  return 0;
}

void TDirectoryListBox::SetDirectory(const std::string& path) {
  if (path.empty()) return;
  std::string p = NormalizeFolder(path);
  if (UpperCaseAscii(p) == UpperCaseAscii(directory_)) return;
  directory_ = p;
  BuildItems();
  if (OnChange) OnChange(this);
}

void TDirectoryListBox::SetDrive(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter == Drive()) return;
  SetDirectory(std::string(1, letter) + ":\\");
}

void TDirectoryListBox::Update() { BuildItems(); }

void TDirectoryListBox::BuildItems() {
  items_.clear();
  std::string drive = ExtractFileDrive(directory_);
  std::string path = drive;
  size_t pos = drive.size();
  if (!drive.empty()) {
    items_.push_back(TItem{drive + "\\", drive + "\\", 0, true});
    if (pos < directory_.size() && IsPathDelimiterAt(directory_, pos)) ++pos;
  }
  int level = drive.empty() ? 0 : 1;
  while (pos < directory_.size()) {
    size_t end = pos;
    while (end < directory_.size() && !IsPathDelimiterAt(directory_, end)) ++end;
    std::string name = directory_.substr(pos, end - pos);
    if (!name.empty()) {
      path = IncludeTrailingBackslash(path) + name;
      items_.push_back(TItem{name, path, level++, true});
    }
    pos = end + 1;
  }
  itemIndex_ = static_cast<int>(items_.size()) - 1;
  if (auto listing = Platform().ListFolder(directory_)) {
    std::vector<std::string> names;
    for (const TFindData& f : *listing)
      if (f.Attr & faDirectory) names.push_back(f.Name);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Platform().CompareTextJ(a, b) < 0; });
    for (const std::string& n : names)
      items_.push_back(TItem{n, IncludeTrailingBackslash(directory_) + n, level, false});
  }
  Changed(TPeerChange::Items);
}

void TDirectoryListBox::SetItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(items_.size())) index = -1;
  if (index == itemIndex_) return;
  itemIndex_ = index;
  Changed(TPeerChange::ItemIndex);
}

bool TDirectoryListBox::UserOpenItem(int index) {
  if (!AcceptsUserInput() || index < 0 || index >= static_cast<int>(items_.size())) return false;
  std::string target = items_[static_cast<size_t>(index)].Path;
  SetDirectory(target);
  return true;
}

void TDirectoryListBox::PeerItemChosen(int index, bool open) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  if (open) {
    std::string target = items_[static_cast<size_t>(index)].Path;
    SetDirectory(target);
  } else {
    itemIndex_ = index;
  }
}

// ---------------------------------------------------------------------------------------------
// TDriveComboBox

TDriveComboBox::TDriveComboBox(TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
  SetParentColor(false);
  SetColor(clWindow);
  SetBoundsQuiet(0, 0, 145, 19);
  UpdateDrives();
}

TDriveComboBox::~TDriveComboBox() = default;

void TDriveComboBox::UpdateDrives() {
  letters_ = Application->Widgets().Drives();
  if (!drive_ && !letters_.empty()) {
    drive_ = std::find(letters_.begin(), letters_.end(), 'C') != letters_.end() ? 'C' : letters_.front();
  }
  Changed(TPeerChange::Items);
}

std::vector<std::string> TDriveComboBox::ItemTexts() const {
  std::vector<std::string> texts;
  for (char c : letters_) texts.push_back(std::string(1, c) + ":");
  return texts;
}

int TDriveComboBox::ItemIndex() const {
  auto it = std::find(letters_.begin(), letters_.end(), drive_);
  return it == letters_.end() ? -1 : static_cast<int>(it - letters_.begin());
}

void TDriveComboBox::SetDrive(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter == drive_) return;
  drive_ = letter;
  Changed(TPeerChange::ItemIndex);
  if (dirList_) dirList_->SetDrive(letter);
  if (OnChange) OnChange(this);
}

bool TDriveComboBox::UserSelectDrive(char letter) {
  if (!AcceptsUserInput()) return false;
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (std::find(letters_.begin(), letters_.end(), letter) == letters_.end()) return false;
  SetDrive(letter);
  return true;
}

void TDriveComboBox::PeerItemChosen(int index, bool open) {
  if (index >= 0 && index < static_cast<int>(letters_.size())) SetDrive(letters_[static_cast<size_t>(index)]);
}

// ---------------------------------------------------------------------------------------------
// TIconImage

TIconImage::TIconImage(TComponent* owner) : TGraphicControl(owner) { SetBoundsQuiet(0, 0, 32, 32); }

void TIconImage::SetIcon(TSystemIcon icon) {
  if (icon == icon_) return;
  icon_ = icon;
  Invalidate();
}

void TIconImage::Paint(TCanvas& canvas) { canvas.DrawIcon(0, 0, icon_); }

}  // namespace vr
