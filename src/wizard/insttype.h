// The install wizard window: ten pages walked with Back and Next, used both to install a game and to
// uninstall it. The choice pages (media, file groups, destination) live in insttype_choice.cpp; the
// install and uninstall runs attach to the page-entry hooks below.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/controls.h"
#include "framework/forms.h"
#include "startup/instset.h"
#include "wizard/newctrls.h"
#include "wizard/sysctrls.h"

namespace vr {

class TVrFileCollection;

// The font of the wizard's windows: "ＭＳ Ｐゴシック", height -12, Shift-JIS.
TFont WizardFont();

class TFormType : public TForm {
 public:
  // Page indices; the order is fixed and the navigation depends on it.
  enum TPageIndex : int {
    pgHello = 0,
    pgLicense = 1,
    pgMedia = 2,
    pgFile = 3,
    pgSelDir = 4,
    pgConfirm = 5,
    pgCopy = 6,
    pgExit = 7,
    pgUninst = 8,
    pgDelete = 9,
  };
  static constexpr int kPageCount = 10;
  // Page names in index order ("Hello" ... "delete").
  static const char* const PageNames[kPageCount];

  // Work done when a run's page is entered. Returns false when the run ended early (aborted, failed,
  // or gave the page up), in which case the buttons are left as they are.
  using TPageAction = std::function<bool(TFormType& form)>;

  // settings: the process's install settings; archive: the open package archive (nullptr in
  // uninstaller mode). Both stay owned by the caller and must outlive the window.
  // sourceFolder: the first command-line argument (the package's folder when installing, the game
  // folder when uninstalling).
  TFormType(TComponent* owner, TRovaInstallSet& settings, TVrFileCollection* archive,
            const std::string& sourceFolder = std::string());
  ~TFormType() override;

  TRovaInstallSet& Settings() const { return settings_; }
  TVrFileCollection* Archive() const { return archive_; }
  const std::string& SourceFolder() const { return sourceFolder_; }

  // --- controls --------------------------------------------------------------------------------
  TNotebook* Notebook;
  TBevel* Bevel1;
  TButton* btnBack;
  TButton* btnNext;
  TButton* btnAbort;
  // "Hello"
  TRichEdit* EditHello;
  // "License"
  TLabel* Label2;
  TLabel* Label4;
  TRichEdit* EditLicense;
  TCheckBox* CheckLicense;
  // "Media"
  TLabel* LabelDisk;
  TRadioButton* RadioDiskAll;
  TRadioButton* RadioDiskThis;
  // "file"
  TLabel* Label1;
  TCheckBox* CheckProg;
  TCheckBox* CheckData;
  TCheckBox* CheckSound;
  TCheckBox* CheckMovie;
  TLabel* LabelSize;
  // "seldir"
  TLabel* Label3;
  TEdit* EditDir;
  TDirectoryListBox* Directory;
  TDriveComboBox* Drive;
  TLabel* LabelSzDrv;
  TLabel* LabelSzNeed;
  // "confirm"
  TLabel* Label5;
  TLabel* LabelBack;
  TLabel* LabelBack2;
  // "copy"
  TLabel* LabelCopyCap;
  TLabel* LabelCopy;
  TProgressBar* Progress;
  // "exit"
  TLabel* LabelExit;
  // "uninst"
  TLabel* LabelUninst;
  TLabel* Label7;
  TCheckBox* CheckDelSave;
  // "delete"
  TLabel* LabelDelTitle;
  TLabel* LabelDel;
  // Non-visual: options silent, no confirmation, files only / default properties.
  TFileOperation* FileOperation;
  TShellLink* ShellLink;

  // --- wizard state ----------------------------------------------------------------------------
  bool PageEnabled[kPageCount] = {};
  uint64_t RequiredBytes = 0;
  uint64_t CopiedBytes = 0;
  // Appended to a folder picked in the folder list while the proposed folder did not exist at start.
  std::string SubFolder;

  // --- page-entry hooks of the runs ------------------------------------------------------------
  // "copy": the install run (RunInstall unless another action is attached).
  TPageAction OnEnterCopy;
  // "uninst": save-data detection (CheckDelSave shown, unchecked, when there is save data).
  TPageAction OnEnterUninst;
  // "delete": the uninstall run, then "exit".
  TPageAction OnEnterDelete;

  // --- navigation ------------------------------------------------------------------------------
  int FirstEnabledPage() const;
  int LastEnabledPage() const;
  int CurrentPage() const { return Notebook->PageIndex(); }
  std::string CurrentPageName() const { return Notebook->ActivePage(); }
  static int PageIndexOf(const std::string& name);
  void GoToPage(int index);
  void GoToPage(const std::string& name) { GoToPage(PageIndexOf(name)); }

  // --- choices ---------------------------------------------------------------------------------
  void UpdateRequiredSize();
  void UpdateFreeSpaceLabel();
  // Free MiB on the drive of that letter available to this user; 0 when the query fails.
  static int32_t FreeMegabytes(char letter);
  // The folder the game goes to, with a trailing backslash.
  std::string DestinationFolder() const;
  // The check made when Next leaves "seldir": true to go on, false to stay.
  bool CheckDestination();

  // --- handlers --------------------------------------------------------------------------------
  void FormCreate(TObject* Sender);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  void btnBackClick(TObject* Sender);
  void btnNextClick(TObject* Sender);
  void btnAbortClick(TObject* Sender);
  void CheckLicenseClick(TObject* Sender);
  void CheckProgClick(TObject* Sender);
  void CheckDataClick(TObject* Sender);
  void DirectoryChange(TObject* Sender);
  void DriveChange(TObject* Sender);

 private:
  template <class T>
  T* Add(TWinControl* parent, const char* name, int left, int top, int width, int height);
  TLabel* AddLabel(TWinControl* parent, const char* name, int left, int top, int width, const char* caption);
  TRichEdit* AddTextBox(TWinControl* parent, const char* name, int left, int top, int width, int height);
  void BuildControls();
  void RefreshButtons();
  // Entry actions of the choice pages.
  void FillMediaTexts();
  void ProposeDestination();
  void EnterFilePage();
  // The install run with the choices made on the pages; moves on to "exit" when it completes.
  bool RunInstall();
  // Entry actions of the uninstall pages.
  bool DetectSaveData();
  bool RunUninstall();
  // Says that the run of the page is not available and returns to the previous enabled page.
  bool RunNotAvailable(const std::string& message);

  TRovaInstallSet& settings_;
  TVrFileCollection* archive_;
  std::string sourceFolder_;
};

}  // namespace vr
