// The wizard window: its controls, creation, page flags, page entry, the three buttons and the close
// question.
#include "wizard/insttype.h"

#include "framework/dialogs.h"
#include "framework/sysutils.h"
#include "platform/dbcspath.h"
#include "platform/platform.h"
#include "wizard/installrun.h"
#include "wizard/uninstallrun.h"
#include "wizard/wizardhost.h"

namespace vr {

const char* const TFormType::PageNames[TFormType::kPageCount] = {
    "Hello", "License", "Media", "file", "seldir", "confirm", "copy", "exit", "uninst", "delete"};

namespace {

const char kNextCaption[] = "次へ(&N) >";

}  // namespace

TFont WizardFont() {
  TFont font;
  font.Name = "ＭＳ Ｐゴシック";
  font.Height = -12;
  font.Charset = SHIFTJIS_CHARSET_;
  return font;
}

TFormType::TFormType(TComponent* owner, TRovaInstallSet& settings, TVrFileCollection* archive,
                     const std::string& sourceFolder)
    : TForm(owner), settings_(settings), archive_(archive), sourceFolder_(sourceFolder) {
  SetName("FormType");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poOwnerFormCenter);
  SetClientSize(497, 336);
  SetFont(WizardFont());
  SetCaption("インストールタイプの選択");
  BuildControls();
  OnCreate = Handler(this, &TFormType::FormCreate);
  OnCloseQuery = [this](TObject* sender, bool& canClose) { FormCloseQuery(sender, canClose); };
  OnEnterCopy = [](TFormType& form) { return form.RunInstall(); };
  OnEnterUninst = [](TFormType& form) { return form.DetectSaveData(); };
  OnEnterDelete = [](TFormType& form) { return form.RunUninstall(); };
}

TFormType::~TFormType() = default;

template <class T>
T* TFormType::Add(TWinControl* parent, const char* name, int left, int top, int width, int height) {
  T* control = new T(this);
  control->SetName(name);
  control->SetParent(parent);
  control->SetBounds(left, top, width, height);
  return control;
}

TLabel* TFormType::AddLabel(TWinControl* parent, const char* name, int left, int top, int width,
                            const char* caption) {
  TLabel* label = Add<TLabel>(parent, name, left, top, width, 12);
  label->SetCaption(caption);
  return label;
}

TRichEdit* TFormType::AddTextBox(TWinControl* parent, const char* name, int left, int top, int width,
                                 int height) {
  TRichEdit* edit = Add<TRichEdit>(parent, name, left, top, width, height);
  edit->SetPlainText(true);
  edit->SetReadOnly(true);
  edit->SetScrollBars(TScrollStyle::ssVertical);
  edit->SetMaxLength(5242880);
  return edit;
}

void TFormType::BuildControls() {
  Notebook = Add<TNotebook>(this, "Notebook", 0, 0, 497, 293);
  Notebook->SetAlign(TAlign::alTop);
  TPage* pages[kPageCount];
  for (int i = 0; i < kPageCount; ++i) pages[i] = Notebook->AddPage(PageNames[i]);

  Bevel1 = Add<TBevel>(this, "Bevel1", 0, 293, 497, 12);
  Bevel1->SetShape(TBevelShape::bsTopLine);
  btnBack = Add<TButton>(this, "btnBack", 244, 300, 75, 25);
  btnBack->SetCaption("< 戻る(&B)");
  btnBack->SetEnabled(false);
  btnBack->OnClick = Handler(this, &TFormType::btnBackClick);
  btnNext = Add<TButton>(this, "btnNext", 324, 300, 75, 25);
  btnNext->SetCaption(kNextCaption);
  btnNext->SetDefault(true);
  btnNext->OnClick = Handler(this, &TFormType::btnNextClick);
  btnAbort = Add<TButton>(this, "btnAbort", 416, 300, 75, 25);
  btnAbort->SetCaption("中断(&A)");
  btnAbort->OnClick = Handler(this, &TFormType::btnAbortClick);

  EditHello = AddTextBox(pages[pgHello], "EditHello", 8, 8, 481, 273);

  TPage* page = pages[pgLicense];
  Label2 = AddLabel(page, "Label2", 12, 16, 468,
                    "以下のライセンス同意書をお読みください。セットアップを継続するには、必ず全ての契約条項");
  Label4 = AddLabel(page, "Label4", 12, 36, 153, "に同意しなければなりません。");
  EditLicense = AddTextBox(page, "EditLicense", 8, 56, 481, 201);
  CheckLicense = Add<TCheckBox>(page, "CheckLicense", 16, 264, 97, 17);
  CheckLicense->SetCaption("同意する(&P)");
  CheckLicense->OnClick = Handler(this, &TFormType::CheckLicenseClick);

  page = pages[pgMedia];
  LabelDisk = AddLabel(page, "LabelDisk", 16, 16, 218, "インストールするディスクを指定してください");
  RadioDiskAll = Add<TRadioButton>(page, "RadioDiskAll", 24, 40, 237, 17);
  RadioDiskAll->SetCaption("全てのディスク");
  RadioDiskThis = Add<TRadioButton>(page, "RadioDiskThis", 24, 68, 237, 17);
  RadioDiskThis->SetCaption("このディスク");

  page = pages[pgFile];
  Label1 = AddLabel(page, "Label1", 16, 16, 218, "インストールするファイルを選択してください");
  CheckProg = Add<TCheckBox>(page, "CheckProg", 24, 40, 169, 17);
  CheckProg->SetCaption("プログラム");
  CheckProg->SetChecked(true);
  CheckProg->SetEnabled(false);
  CheckProg->OnClick = Handler(this, &TFormType::CheckProgClick);
  CheckData = Add<TCheckBox>(page, "CheckData", 24, 68, 141, 17);
  CheckData->SetCaption("シナリオ・グラフィック");
  CheckData->OnClick = Handler(this, &TFormType::CheckDataClick);
  CheckSound = Add<TCheckBox>(page, "CheckSound", 24, 96, 141, 17);
  CheckSound->SetCaption("サウンド");
  CheckSound->OnClick = Handler(this, &TFormType::CheckDataClick);
  CheckMovie = Add<TCheckBox>(page, "CheckMovie", 24, 124, 141, 17);
  CheckMovie->SetCaption("ムービー");
  CheckMovie->OnClick = Handler(this, &TFormType::CheckDataClick);
  LabelSize = AddLabel(page, "LabelSize", 24, 256, 48, "");

  page = pages[pgSelDir];
  Label3 = AddLabel(page, "Label3", 16, 16, 167, "インストール先を選択してください");
  EditDir = Add<TEdit>(page, "EditDir", 16, 32, 465, 20);
  Directory = Add<TDirectoryListBox>(page, "Directory", 16, 56, 465, 161);
  Directory->SetItemHeight(16);
  Directory->OnChange = Handler(this, &TFormType::DirectoryChange);
  Drive = Add<TDriveComboBox>(page, "Drive", 16, 224, 465, 18);
  Drive->SetDirList(Directory);
  Drive->OnChange = Handler(this, &TFormType::DriveChange);
  LabelSzDrv = AddLabel(page, "LabelSzDrv", 16, 248, 48, "");
  LabelSzNeed = AddLabel(page, "LabelSzNeed", 16, 268, 48, "");

  page = pages[pgConfirm];
  Label5 = AddLabel(page, "Label5", 16, 16, 195, "ファイルをコピーする準備が整いました");
  LabelBack =
      AddLabel(page, "LabelBack", 16, 44, 463,
               "[インストール] をクリックするとコピーを開始します。設定を確認・変更したい場合は [戻る] を");
  LabelBack2 = AddLabel(page, "LabelBack2", 16, 64, 96, "クリックしてください");

  page = pages[pgCopy];
  LabelCopyCap = AddLabel(page, "LabelCopyCap", 16, 16, 137, "ファイルをコピーしています");
  LabelCopy = AddLabel(page, "LabelCopy", 16, 236, 6, "...");
  Progress = Add<TProgressBar>(page, "Progress", 16, 256, 461, 16);
  Progress->SetRange(0, 100);

  LabelExit = AddLabel(pages[pgExit], "LabelExit", 16, 16, 139, "インストールが完了しました");

  page = pages[pgUninst];
  LabelUninst = AddLabel(page, "LabelUninst", 16, 16, 84, "");
  Label7 = AddLabel(page, "Label7", 16, 36, 229, "[実行] をクリックすると削除処理を開始します");
  CheckDelSave = Add<TCheckBox>(page, "CheckDelSave", 20, 64, 201, 17);
  CheckDelSave->SetCaption("セーブデータも削除");

  page = pages[pgDelete];
  LabelDelTitle = AddLabel(page, "LabelDelTitle", 16, 16, 129, "ファイルを削除しています");
  LabelDel = AddLabel(page, "LabelDel", 16, 260, 53, "");

  FileOperation = new TFileOperation(this);
  FileOperation->SetName("FileOperation");
  FileOperation->Options = TFileOpFlags{fofSilent, fofNoConfirmation, fofFilesOnly};
  ShellLink = new TShellLink(this);
  ShellLink->SetName("ShellLink");
}

// ---------------------------------------------------------------------------------------------
// Creation

void TFormType::FormCreate(TObject*) {
  FillMediaTexts();
  LabelUninst->SetCaption(Format("%s をコンピュータから削除します", {settings_.Title}));
  btnBack->SetVisible(!settings_.Uninstaller);
  ProposeDestination();
  EditHello->SetLinesText(settings_.WelcomeText);
  EditLicense->SetLinesText(settings_.LicenseText);

  for (bool& enabled : PageEnabled) enabled = true;
  PageEnabled[pgHello] = !settings_.WelcomeText.empty();
  PageEnabled[pgLicense] = !settings_.LicenseText.empty();
  if (settings_.InstallKind == kInstallSystem) {
    PageEnabled[pgMedia] = PageEnabled[pgFile] = PageEnabled[pgSelDir] = false;
  } else if (settings_.AddOnPackage || settings_.InstallKind == kInstallFull) {
    PageEnabled[pgMedia] = PageEnabled[pgFile] = false;
  } else if (settings_.DiskCount < 2 || settings_.DiskIndex != 0) {
    PageEnabled[pgMedia] = false;
  }

  if (settings_.Uninstaller) {
    for (bool& enabled : PageEnabled) enabled = false;
    PageEnabled[pgUninst] = PageEnabled[pgDelete] = PageEnabled[pgExit] = true;
    GoToPage(pgUninst);
  } else {
    GoToPage(FirstEnabledPage());
  }

  if (settings_.InstallKind == kInstallFull) {
    CheckData->SetChecked(true);
    CheckSound->SetChecked(true);
    CheckMovie->SetChecked(true);
  }

  const bool backHint = FirstEnabledPage() < pgConfirm;
  LabelBack->SetVisible(backHint);
  LabelBack2->SetVisible(backHint);
}

// ---------------------------------------------------------------------------------------------
// Navigation

int TFormType::FirstEnabledPage() const {
  for (int i = 0; i < kPageCount; ++i)
    if (PageEnabled[i]) return i;
  return -1;
}

int TFormType::LastEnabledPage() const {
  for (int i = kPageCount - 1; i >= 0; --i)
    if (PageEnabled[i]) return i;
  return -1;
}

int TFormType::PageIndexOf(const std::string& name) {
  for (int i = 0; i < kPageCount; ++i)
    if (name == PageNames[i]) return i;
  return -1;
}

void TFormType::GoToPage(int index) {
  if (index < 0 || index >= kPageCount) throw EInvalidOperation(Format("ページ %d はありません", {index}));
  Notebook->SetPageIndex(index);
  bool refresh = true;
  switch (index) {
    case pgHello:
      SetCaption("ようこそ");
      break;
    case pgLicense:
      SetCaption("ライセンス契約");
      break;
    case pgMedia:
      SetCaption(Format("インストールする%s", {settings_.MediaNoun}));
      break;
    case pgFile:
      SetCaption("インストールするファイル");
      EnterFilePage();
      break;
    case pgSelDir:
      SetCaption("インストール先の選択");
      UpdateRequiredSize();
      UpdateFreeSpaceLabel();
      break;
    case pgConfirm:
      SetCaption("インストール準備完了");
      break;
    case pgCopy:
      // The run sets its own caption.
      if (OnEnterCopy) refresh = OnEnterCopy(*this);
      break;
    case pgExit:
      SetCaption("完了");
      if (btnAbort->CanFocus())
        btnAbort->SetFocus();
      else
        SetActiveControl(btnAbort);
      break;
    case pgUninst:
      SetCaption("アンインストール");
      if (OnEnterUninst) refresh = OnEnterUninst(*this);
      break;
    case pgDelete:
      if (OnEnterDelete) refresh = OnEnterDelete(*this);
      break;
  }
  if (refresh) RefreshButtons();
}

void TFormType::RefreshButtons() {
  const int page = CurrentPage();
  btnBack->SetEnabled(FirstEnabledPage() < page);
  btnNext->SetEnabled(page < LastEnabledPage() && (page != pgLicense || CheckLicense->Checked()));
  switch (page) {
    case pgConfirm:
      btnNext->SetCaption("インストール");
      break;
    case pgExit:
      btnAbort->SetCaption("閉じる(&C)");
      break;
    case pgUninst:
      btnNext->SetCaption("実行");
      break;
    default:
      btnNext->SetCaption(kNextCaption);
      break;
  }

  // Keep the keyboard focus on something the user can reach, so that Enter keeps working: a control
  // left on a page that is no longer shown, or a button just disabled, would swallow it.
  // The control that really has the focus: the user may have moved it (Tab, or a button pressed with
  // Enter) without the form knowing. A button that was just disabled (Back on the first page) loses it
  // to nothing, and then no key reaches the wizard.
  TWinControl* active = nullptr;
  for (int i = 0; i < ComponentCount() && !active; ++i) {
    auto* control = dynamic_cast<TWinControl*>(Components(i));
    if (control && control->Focused()) active = control;
  }
  if (!active) active = ActiveControl();
  auto usable = [this, page](TWinControl* c) {
    if (!c->Visible() || !c->Enabled()) return false;
    return c->Parent() == this || c->Parent() == Notebook->Pages(page);
  };
  if (active && usable(active) && active->Focused()) return;
  TWinControl* target = nullptr;
  if (usable(btnNext))
    target = btnNext;
  else if (page == pgLicense && usable(CheckLicense))
    target = CheckLicense;
  else if (usable(btnAbort))
    target = btnAbort;
  if (!target) return;
  if (target->CanFocus())
    target->SetFocus();
  else
    SetActiveControl(target);
}

void TFormType::btnNextClick(TObject*) {
  const int page = CurrentPage();
  if (page == pgCopy) {
    SetModalResult(mrOk);
    return;
  }
  if (page == pgSelDir && !CheckDestination()) return;
  for (int i = page + 1; i < kPageCount; ++i) {
    if (PageEnabled[i]) {
      GoToPage(i);
      return;
    }
  }
}

void TFormType::btnBackClick(TObject*) {
  for (int i = CurrentPage() - 1; i >= 0; --i) {
    if (PageEnabled[i]) {
      GoToPage(i);
      return;
    }
  }
}

void TFormType::btnAbortClick(TObject*) {
  switch (CurrentPage()) {
    case pgExit:
      SetModalResult(mrOk);
      break;
    case pgCopy:
      if (ConfirmDlg("インストールを中断しますか？") == mrYes) SetModalResult(mrAbort);
      break;
    case pgDelete:
      if (ConfirmDlg("アンインストールを中断しますか？") == mrYes) SetModalResult(mrAbort);
      break;
    default:
      SetModalResult(mrCancel);
      break;
  }
}

void TFormType::FormCloseQuery(TObject*, bool& CanClose) {
  if (ModalResult() != mrCancel) return;
  const std::string word = settings_.Uninstaller ? "アンインストール" : "インストール";
  CanClose = ConfirmDlg(word + "を中断しますか？") == mrYes;
}

void TFormType::CheckLicenseClick(TObject*) {
  btnNext->SetEnabled(CurrentPage() < LastEnabledPage() && CheckLicense->Checked());
}

bool TFormType::RunInstall() {
  if (!archive_)
    return RunNotAvailable("パッケージのアーカイブが開かれていないため、インストール処理を実行できません");
  // Back and Next stay hidden for the rest of the wizard.
  btnBack->SetVisible(false);
  btnNext->SetVisible(false);
  SetCaption("ファイルコピー");
  TWizardRunHost host(*this);
  TInstallChoices choices =
      MakeInstallChoices(settings_, sourceFolder_, EditDir->Text(), RadioDiskAll->Checked(),
                         CheckData->Checked(), CheckSound->Checked(), CheckMovie->Checked());
  TInstallRun run(host, settings_, *archive_, choices);
  const TRunOutcome outcome = run.Execute();
  CopiedBytes = run.CopiedBytes();
  switch (outcome.End) {
    case TRunEnd::reCompleted:
      GoToPage(CurrentPage() + 1);
      return true;
    case TRunEnd::reStopped:
    case TRunEnd::reCheckFailed:
      SetModalResult(mrAbort);
      break;
    case TRunEnd::reFailed:
      // A failure the run warned about closes the wizard; after an error the wizard stays on "copy"
      // (Abort is the way out).
      if (outcome.Error.empty()) SetModalResult(mrOk);
      break;
  }
  return false;
}

bool TFormType::DetectSaveData() {
  CheckDelSave->SetVisible(FindSaveData(settings_, sourceFolder_));
  CheckDelSave->SetChecked(false);
  return true;
}

bool TFormType::RunUninstall() {
  // The folder list lets go of the game folder before anything in it is deleted.
  const std::string windows = Platform().GetWindowsDirectory();
  const std::string drive = ExtractFileDrive(windows);
  if (drive.size() == 2 && drive[1] == ':') Drive->SetDrive(drive[0]);
  Directory->SetDirectory(windows);

  btnNext->SetVisible(false);
  btnBack->SetVisible(false);
  SetCaption("削除");
  TWizardRunHost host(*this);
  TUninstallOptions options;
  options.GameFolder = sourceFolder_;
  options.DeleteSave = CheckDelSave->Visible() && CheckDelSave->Checked();
  if (!TUninstallRun(host, settings_, options).Execute()) return false;  // aborted: the wizard closes
  LabelExit->SetCaption("アンインストールが完了しました");
  GoToPage(pgExit);
  return false;  // "exit" has set its buttons
}

bool TFormType::RunNotAvailable(const std::string& message) {
  // Back to the page before first, so that the message does not stand over a run's progress page.
  for (int i = CurrentPage() - 1; i >= 0; --i) {
    if (PageEnabled[i]) {
      GoToPage(i);
      break;
    }
  }
  WarningDlg(message);
  return false;
}

}  // namespace vr
