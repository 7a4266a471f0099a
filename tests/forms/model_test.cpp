// The form model driven headless: modal loops, scripted input, dialogs, release, keyboard, controls.
#include <gtest/gtest.h>

#include "framework/controls.h"
#include "framework/dialogs.h"
#include "framework/forms.h"
#include "framework/headless/headless.h"
#include "support/tempdrive.h"

namespace vr {
namespace {

class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* owner) : TForm(owner) {
    SetName("TestForm");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetPosition(TPosition::poScreenCenter);
    SetClientSize(300, 200);
    SetCaption("テスト");
    btnNext = Add<TButton>("btnNext", 200, 160, 75, 25);
    btnNext->SetCaption("次へ(&N) >");
    btnNext->SetDefault(true);
    btnNext->OnClick = Handler(this, &TTestForm::btnNextClick);
    btnAbort = Add<TButton>("btnAbort", 120, 160, 75, 25);
    btnAbort->SetCaption("中断(&A)");
    btnAbort->OnClick = Handler(this, &TTestForm::btnAbortClick);
    CheckData = Add<TCheckBox>("CheckData", 10, 10, 140, 17);
    CheckData->OnClick = Handler(this, &TTestForm::CheckDataClick);
    OnCreate = Handler(this, &TTestForm::FormCreate);
    OnCloseQuery = [this](TObject*, bool& canClose) { FormCloseQuery(canClose); };
  }
  template <class T>
  T* Add(const std::string& name, int l, int t, int w, int h) {
    T* c = new T(this);
    c->SetName(name);
    c->SetParent(this);
    c->SetBounds(l, t, w, h);
    return c;
  }
  void FormCreate(TObject*) { ++created; }
  void btnNextClick(TObject*) {
    ++nextClicks;
    if (runSteps > 0) {
      // A long run: pumps messages and stops at the user's confirmed abort.
      for (int i = 0; i < runSteps; ++i) {
        Application->ProcessMessages();
        if (ModalResult() == mrAbort) return;
        ++stepsDone;
      }
    }
    if (failWith) throw EVrError("失敗しました");
  }
  void btnAbortClick(TObject*) {
    if (runSteps > 0) {
      if (ConfirmDlg("インストールを中断しますか？") == mrYes) SetModalResult(mrAbort);
    } else {
      SetModalResult(mrCancel);
    }
  }
  void CheckDataClick(TObject*) { ++checkClicks; }
  void FormCloseQuery(bool& canClose) {
    if (ModalResult() == mrCancel) canClose = ConfirmDlg("インストールを中断しますか？") == mrYes;
  }

  TButton* btnNext;
  TButton* btnAbort;
  TCheckBox* CheckData;
  int created = 0, nextClicks = 0, checkClicks = 0, runSteps = 0, stepsDone = 0;
  bool failWith = false;
};

TEST(FormsModal, ScriptDrivesTheModalLoopAndCloseQuery) {
  THeadlessSession session;
  auto* form = CreateForm<TTestForm>(Application);
  EXPECT_EQ(form->created, 1);
  EXPECT_FALSE(form->Visible());
  // Frame size of a dialog border headless: 6 x 25; centred on the 1024 x 768 screen.
  session->Then([&](TForm* active) {
    EXPECT_EQ(active, form);
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->Left(), (1024 - 306) / 2);
    EXPECT_EQ(form->Top(), (768 - 225) / 2);
    headless::Click(form->btnAbort);  // Cancel -> close query asks, "No" keeps the form
  });
  session->Answer(TMsgDlgType::mtConfirmation, "中断しますか", mrNo);
  session->Then([&](TForm*) {
    EXPECT_EQ(form->ModalResult(), mrNone);  // cleared by the refused close
    headless::CloseBox(form);
  });
  session->Answer(TMsgDlgType::mtConfirmation, "中断しますか", mrYes);
  EXPECT_EQ(form->ShowModal(), mrCancel);
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(form->Modal());
  ASSERT_EQ(session->Dialogs.size(), 2u);
  EXPECT_EQ(session->Dialogs[0].Caption, "確認");
  EXPECT_EQ(session->Dialogs[0].Icon, TSystemIcon::siQuestion);
  EXPECT_EQ(session->Dialogs[0].Buttons, (std::vector<std::string>{"はい(&Y)", "いいえ(&N)"}));
  EXPECT_EQ(session->Dialogs[0].Answer, mrNo);
  EXPECT_EQ(session->Dialogs[1].Answer, mrYes);
  EXPECT_EQ(session->PendingSteps(), 0u);

  // A second modal run starts with a cleared modal result; an OK result closes without a question.
  session->Then([&](TForm*) { form->SetModalResult(mrOk); });
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(session->Dialogs.size(), 2u);
}

TEST(FormsModal, UnforeseenInputFailsClearly) {
  THeadlessSession session;
  auto* form = CreateForm<TTestForm>(Application);
  // Nothing scripted: the modal loop cannot wait forever.
  EXPECT_THROW(form->ShowModal(), EScriptError);
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(form->Modal());
  // A dialog nobody answers.
  EXPECT_THROW(WarningDlg("ファイルをコピーできません"), EScriptError);
  ASSERT_EQ(session->Dialogs.size(), 1u);
  EXPECT_EQ(session->Dialogs[0].Text, "ファイルをコピーできません");
  // An answer for another dialog, or an answer the dialog has no button for.
  session->Answer(TMsgDlgType::mtWarning, "別の文", mrOk);
  EXPECT_THROW(WarningDlg("ファイルをコピーできません"), EScriptError);
  session->Answer(TMsgDlgType::mtWarning, "", mrYes);
  EXPECT_THROW(WarningDlg("ファイルをコピーできません"), EScriptError);
  // Clicking what the user cannot click.
  form->btnNext->SetEnabled(false);
  session->Then([&](TForm*) { headless::Click(form->btnNext); });
  EXPECT_THROW(form->ShowModal(), EScriptError);
  // A step waiting for a condition that never comes.
  session->When([](TForm*) { return false; }, [](TForm*) {});
  EXPECT_THROW(form->ShowModal(), EScriptError);
}

TEST(FormsDialogs, TheFourFormsAndTheSystemBox) {
  THeadlessSession session;
  session->Answer(TMsgDlgType::mtWarning, "警告文", mrOk);
  session->Answer(TMsgDlgType::mtWarning, "質問", mrNo);
  session->Answer(TMsgDlgType::mtConfirmation, "確認文", mrYes);
  session->Answer(TMsgDlgType::mtInformation, "ディスク", mrAbort);
  session->AnswerSystemBox("管理者権限", mrOk);
  EXPECT_EQ(WarningDlg("警告文"), mrOk);
  EXPECT_EQ(WarningYesNoDlg("質問"), mrNo);
  EXPECT_EQ(ConfirmDlg("確認文"), mrYes);
  EXPECT_EQ(InfoAbortDlg("ディスク"), mrAbort);
  EXPECT_EQ(SysMessageBox("管理者権限で実行してください", "警告", mbfOk | mbfIconWarning), 1);
  const auto& d = session->Dialogs;
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(d[0].Caption, "警告");
  EXPECT_EQ(d[0].Icon, TSystemIcon::siWarning);
  EXPECT_EQ(d[0].Buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(d[1].Caption, "警告");
  EXPECT_EQ(d[1].Icon, TSystemIcon::siWarning);
  EXPECT_EQ(d[1].Buttons, (std::vector<std::string>{"はい(&Y)", "いいえ(&N)"}));
  EXPECT_EQ(d[2].Caption, "確認");
  EXPECT_EQ(d[2].Icon, TSystemIcon::siQuestion);
  EXPECT_EQ(d[3].Caption, "情報");
  EXPECT_EQ(d[3].Icon, TSystemIcon::siInformation);
  EXPECT_EQ(d[3].Buttons, (std::vector<std::string>{"OK", "中止(&A)"}));
  EXPECT_EQ(d[4].Kind, TDialogKind::SystemBox);
  EXPECT_EQ(d[4].Caption, "警告");
  EXPECT_EQ(d[4].Icon, TSystemIcon::siWarning);
  // The byte values the program shows (code page 932).
  EXPECT_EQ(MsgDlgCaption(TMsgDlgType::mtWarning), "\x8C\x78\x8D\x90");
  EXPECT_EQ(MsgDlgButtonCaption(TMsgDlgBtn::mbYes), "\x82\xCD\x82\xA2(&Y)");
  // Enter and Escape of the yes/no dialog: Yes and No; of OK/Abort: OK for both.
  TMsgDlgRequest yesNo =
      MakeMsgDlgRequest("x", TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
  EXPECT_EQ(yesNo.Results[yesNo.DefaultIndex], mrYes);
  EXPECT_EQ(yesNo.Results[yesNo.CancelIndex], mrNo);
  TMsgDlgRequest okAbort =
      MakeMsgDlgRequest("x", TMsgDlgType::mtInformation, {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbAbort});
  EXPECT_EQ(okAbort.Results[okAbort.DefaultIndex], mrOk);
  EXPECT_EQ(okAbort.Results[okAbort.CancelIndex], mrOk);
}

TEST(FormsDialogs, MessageFormLaysOutItsButtons) {
  THeadlessSession session;
  TMsgDlgRequest r = MakeMsgDlgRequest("インストールを中断しますか？\r\n二行目", TMsgDlgType::mtConfirmation,
                                       {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
  auto* form = new TMessageForm(Application, r);
  EXPECT_EQ(form->Caption(), "確認");
  ASSERT_EQ(form->Buttons.size(), 2u);
  EXPECT_EQ(form->Buttons[0]->Caption(), "はい(&Y)");
  EXPECT_EQ(form->Buttons[1]->Caption(), "いいえ(&N)");
  EXPECT_EQ(form->DefaultButton(), form->Buttons[0]);
  // Buttons side by side, centred, below the two text lines and the icon, inside the client area.
  EXPECT_EQ(form->Buttons[0]->Top(), form->Buttons[1]->Top());
  EXPECT_GE(form->Buttons[0]->Top(), form->Message->Top() + form->Message->Height());
  EXPECT_GE(form->Buttons[0]->Top(), form->Image->Top() + form->Image->Height());
  EXPECT_EQ(form->Buttons[0]->Left(),
            form->ClientWidth() - form->Buttons[1]->Left() - form->Buttons[1]->Width());
  EXPECT_LE(form->Buttons[0]->Top() + 25, form->ClientHeight());
  EXPECT_EQ(form->Message->Height(), 24);  // two lines of 12 pixels
  EXPECT_GE(form->Message->Left(), form->Image->Left() + 32);
  // Enter answers Yes; a button click closes with its result.
  session->Then([&](TForm* active) { headless::PressEnter(active); });
  EXPECT_EQ(form->ShowModal(), mrYes);
  session->Then([&](TForm*) { headless::Click(form->Buttons[1]); });
  EXPECT_EQ(form->ShowModal(), mrNo);
}

TEST(FormsModal, ProcessMessagesLetsTheUserAbortALongRun) {
  THeadlessSession session;
  auto* form = CreateForm<TTestForm>(Application);
  form->runSteps = 100;
  session->Then([&](TForm*) { headless::Click(form->btnNext); });
  // In the middle of the run the user presses Abort and confirms.
  session->When([&](TForm*) { return form->stepsDone == 5; },
                [&](TForm*) { headless::Click(form->btnAbort); });
  session->Answer(TMsgDlgType::mtConfirmation, "中断しますか", mrYes);
  EXPECT_EQ(form->ShowModal(), mrAbort);
  EXPECT_EQ(form->stepsDone, 5);
  EXPECT_EQ(session->ProcessMessagesCalls, 6);
  EXPECT_EQ(session->Dialogs.size(), 1u);

  // The same run declined: it goes on to its end; the loop then waits for the next step.
  form->stepsDone = 0;
  session->Then([&](TForm*) { headless::Click(form->btnNext); });
  session->When([&](TForm*) { return form->stepsDone == 3; },
                [&](TForm*) { headless::Click(form->btnAbort); });
  session->Answer(TMsgDlgType::mtConfirmation, "", mrNo);
  session->Then([&](TForm*) { form->SetModalResult(mrOk); });
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(form->stepsDone, 100);
}

TEST(FormsModal, ErrorsOfHandlersReachTheDefaultReportAndTheFormStays) {
  THeadlessSession session;
  Application->SetTitle("ゲーム");
  auto* form = CreateForm<TTestForm>(Application);
  form->failWith = true;
  session->Then([&](TForm*) { headless::Click(form->btnNext); });
  session->Then([&](TForm* active) {
    EXPECT_EQ(active, form);
    EXPECT_TRUE(form->Visible());
    form->SetModalResult(mrOk);
  });
  EXPECT_EQ(form->ShowModal(), mrOk);
  ASSERT_EQ(session->Errors.size(), 1u);
  EXPECT_EQ(session->Errors[0], "失敗しました");
  EXPECT_EQ(session->Dialogs.back().Kind, TDialogKind::ErrorReport);
  EXPECT_EQ(session->Dialogs.back().Caption, "ゲーム");
  // An error raised by OnCreate frees the form and passes on.
  struct TFailing : TForm {
    explicit TFailing(TComponent* o) : TForm(o) {
      OnCreate = [](TObject*) { throw EVrError("作成できません"); };
    }
  };
  size_t before = Application->Forms().size();
  EXPECT_THROW(CreateForm<TFailing>(Application), EVrError);
  EXPECT_EQ(Application->Forms().size(), before);
}

TEST(FormsModal, ReleaseIsDeferredAndOwnedFormsAreBlocked) {
  THeadlessSession session;
  bool destroyed = false;
  auto* backdrop = CreateForm<TTestForm>(Application);
  backdrop->SetPosition(TPosition::poDesigned);
  backdrop->SetBounds(100, 50, 706, 425);
  backdrop->OnDestroy = [&](TObject*) { destroyed = true; };
  backdrop->Show();
  auto* wizard = CreateForm<TTestForm>(backdrop);
  wizard->SetPosition(TPosition::poOwnerFormCenter);
  session->Then([&](TForm*) {
    // Centred on the owner; the owner takes no input while the wizard is modal.
    EXPECT_EQ(wizard->Left(), 100 + (706 - 306) / 2);
    EXPECT_EQ(wizard->Top(), 50 + (425 - 225) / 2);
    EXPECT_FALSE(backdrop->AcceptsInput());
    EXPECT_FALSE(backdrop->btnNext->UserClick());
    EXPECT_THROW(headless::Click(backdrop->btnAbort), EScriptError);
    wizard->SetModalResult(mrOk);
  });
  EXPECT_EQ(wizard->ShowModal(), mrOk);
  EXPECT_TRUE(backdrop->AcceptsInput());
  wizard->Release();
  backdrop->Release();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(backdrop->btnNext->Name(), "btnNext");  // still alive
  Application->ProcessMessages();
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(Application->Forms().empty());
  EXPECT_EQ(Application->ComponentCount(), 0);

  // Showing a visible form modally is refused.
  auto* f = CreateForm<TTestForm>(Application);
  f->Show();
  EXPECT_THROW(f->ShowModal(), EInvalidOperation);
}

TEST(FormsKeyboard, EnterPressesTheFocusedOrTheDefaultButton) {
  THeadlessSession session;
  auto* form = CreateForm<TTestForm>(Application);
  form->Show();
  EXPECT_EQ(form->DefaultButton(), form->btnNext);
  EXPECT_TRUE(form->KeyEnter());
  EXPECT_EQ(form->nextClicks, 1);
  form->btnNext->SetEnabled(false);
  EXPECT_FALSE(form->KeyEnter());
  form->btnNext->SetEnabled(true);
  form->btnNext->Hide();
  EXPECT_FALSE(form->KeyEnter());
  form->btnNext->Show();
  // Focus on another button: Enter presses that one.
  form->btnAbort->SetFocus();
  EXPECT_TRUE(form->btnAbort->Focused());
  EXPECT_FALSE(form->btnNext->Focused());
  EXPECT_TRUE(form->KeyEnter());
  EXPECT_EQ(form->nextClicks, 1);
  EXPECT_EQ(form->ModalResult(), mrCancel);
  // A second default button takes the role over.
  form->btnAbort->SetDefault(true);
  EXPECT_FALSE(form->btnNext->Default());
  EXPECT_EQ(form->DefaultButton(), form->btnAbort);
  // Focus cannot go to a hidden or disabled control.
  form->CheckData->SetEnabled(false);
  EXPECT_THROW(form->CheckData->SetFocus(), EInvalidOperation);
  // Deleting the default button leaves no dangling default.
  delete form->btnAbort;
  EXPECT_EQ(form->DefaultButton(), nullptr);
  EXPECT_EQ(form->ActiveControl(), nullptr);
}

TEST(FormsControls, CheckBoxesRadioButtonsAndEdits) {
  THeadlessSession session;
  auto* form = CreateForm<TTestForm>(Application);
  form->Show();
  // Programmatic changes raise the click handler once per change.
  form->CheckData->SetChecked(true);
  form->CheckData->SetChecked(true);
  EXPECT_EQ(form->checkClicks, 1);
  headless::SetChecked(form->CheckData, false);
  EXPECT_FALSE(form->CheckData->Checked());
  EXPECT_EQ(form->checkClicks, 2);
  form->CheckData->SetEnabled(false);
  EXPECT_THROW(headless::SetChecked(form->CheckData, true), EScriptError);
  EXPECT_FALSE(form->CheckData->Checked());

  auto* all = form->Add<TRadioButton>("RadioDiskAll", 24, 40, 237, 17);
  auto* one = form->Add<TRadioButton>("RadioDiskThis", 24, 68, 237, 17);
  int radioClicks = 0;
  all->OnClick = one->OnClick = [&](TObject*) { ++radioClicks; };
  all->SetChecked(true);
  headless::Choose(one);
  EXPECT_TRUE(one->Checked());
  EXPECT_FALSE(all->Checked());
  headless::Choose(one);  // already checked: no new click
  EXPECT_EQ(radioClicks, 2);

  auto* edit = form->Add<TEdit>("EditDir", 16, 32, 465, 20);
  std::vector<std::string> seen;
  edit->OnChange = [&](TObject*) { seen.push_back(edit->Text()); };
  edit->SetText("C:\\Program Files\\ゲーム");
  headless::TypeText(edit, "D:\\表");  // 0x955C: a trail byte that looks like a backslash
  edit->SetText("D:\\表");
  EXPECT_EQ(seen, (std::vector<std::string>{"C:\\Program Files\\ゲーム", "D:\\表"}));
  edit->SetMaxLength(4);
  headless::TypeText(edit, "D:\\表");  // 5 bytes: cut before the double-byte character, never inside it
  EXPECT_EQ(edit->Text(), "D:\\");

  auto* rich = form->Add<TRichEdit>("EditHello", 8, 8, 481, 273);
  rich->SetMaxLength(5);
  rich->SetLinesText("ようこそ");
  EXPECT_EQ(rich->Text(), "よう");

  auto* bar = form->Add<TProgressBar>("Progress", 16, 256, 461, 16);
  bar->SetRange(0, 429496729);  // byte counts / 10 beyond 16 bits
  bar->SetPosition(300000000);
  EXPECT_EQ(bar->Position(), 300000000);
  bar->SetPosition(-5);
  EXPECT_EQ(bar->Position(), 0);
  bar->SetPosition(300000000);
  bar->SetRange(0, 100);
  EXPECT_EQ(bar->Position(), 100);

  // Tab order follows creation and moves on request.
  EXPECT_EQ(form->btnNext->TabOrder(), 0);
  EXPECT_EQ(form->CheckData->TabOrder(), 2);
  form->CheckData->SetTabOrder(0);
  EXPECT_EQ(form->btnNext->TabOrder(), 1);
  EXPECT_EQ(form->TabList().front(), form->CheckData);
  EXPECT_EQ(form->FindComponent("checkdata"), form->CheckData);
}

TEST(FormsControls, PagesShowOneAtATimeAndAlignFillsTheParent) {
  THeadlessSession session;
  auto* form = CreateForm<TTestForm>(Application);
  form->SetClientSize(497, 336);
  auto* book = form->Add<TNotebook>("Notebook", 0, 0, 497, 293);
  book->SetAlign(TAlign::alTop);
  TPage* hello = book->AddPage("Hello");
  TPage* license = book->AddPage("License");
  EXPECT_EQ(book->ActivePage(), "Hello");
  EXPECT_EQ(hello->BoundsRect(), Bounds(0, 0, 497, 293));
  auto* check = new TCheckBox(form);
  check->SetParent(license);
  form->Show();
  EXPECT_TRUE(hello->Showing());
  EXPECT_FALSE(check->Showing());
  EXPECT_FALSE(check->UserClick());
  book->SetActivePage("License");
  EXPECT_EQ(book->PageIndex(), 1);
  EXPECT_FALSE(hello->Showing());
  EXPECT_TRUE(check->UserClick());
  EXPECT_TRUE(check->Checked());
  EXPECT_THROW(book->SetActivePage("missing"), EInvalidOperation);
  EXPECT_EQ(book->PageIndex(), 1);
  // A larger form widens the top-aligned container and its pages.
  form->SetClientSize(600, 400);
  EXPECT_EQ(book->BoundsRect(), Bounds(0, 0, 600, 293));
  EXPECT_EQ(license->Width(), 600);
  // A control cannot be its own ancestor.
  EXPECT_THROW(book->SetParent(license), EInvalidOperation);
}

TEST(FormsControls, LabelsSizeToTheirText) {
  THeadlessSession session;
  auto* form = CreateForm<TTestForm>(Application);
  auto* label = form->Add<TLabel>("LabelCopy", 16, 236, 6, 12);
  label->SetCaption("...");
  EXPECT_EQ(label->Width(), 18);
  EXPECT_EQ(label->Height(), 12);
  label->SetCaption("ファイル");
  EXPECT_EQ(label->Width(), 48);
  auto* right = form->Add<TLabel>("LabelRight", 0, 100, 300, 12);
  right->SetAutoSize(false);
  right->SetAlignment(TAlignment::taRightJustify);
  right->SetCaption("長いフッター文字列 ");
  EXPECT_EQ(right->Width(), 300);
  right->SetAutoSize(true);  // grows to the left: the right edge stays
  EXPECT_EQ(right->Left() + right->Width(), 300);
  EXPECT_EQ(right->Width(), 9 * 12 + 6);
}

TEST(FormsControls, FolderListAndDriveList) {
  THeadlessSession session;
  TTempDrive drive;
  drive.WriteFile("Maker\\Game\\a.txt", "x");
  drive.WriteFile("Maker\\Data\\b.txt", "x");
  drive.WriteFile("Maker\\表\\c.txt", "x");
  session->DriveLetters = {'C', 'D'};
  auto* form = CreateForm<TTestForm>(Application);
  auto* list = form->Add<TDirectoryListBox>("Directory", 16, 56, 465, 161);
  auto* combo = form->Add<TDriveComboBox>("Drive", 16, 224, 465, 18);
  combo->SetDirList(list);
  std::vector<std::string> events;
  list->OnChange = [&](TObject*) { events.push_back("dir " + list->Directory()); };
  combo->OnChange = [&](TObject*) { events.push_back(std::string("drive ") + combo->Drive()); };
  EXPECT_EQ(combo->ItemTexts(), (std::vector<std::string>{"C:", "D:"}));
  EXPECT_EQ(combo->Drive(), 'C');

  std::string maker = drive.Folder() + "Maker";
  list->SetDirectory(maker + "\\");
  EXPECT_EQ(list->Directory(), maker);
  list->SetDirectory(maker);  // unchanged: no event
  ASSERT_EQ(events.size(), 1u);
  // Path items from the root down, then the subfolders, sorted.
  const auto& items = list->Items();
  ASSERT_GE(items.size(), 6u);
  const size_t n = items.size();
  EXPECT_EQ(items[0].Text, "C:\\");
  EXPECT_EQ(items[0].Level, 0);
  EXPECT_EQ(items[n - 4].Text, "Maker");
  EXPECT_TRUE(items[n - 4].Open);
  EXPECT_EQ(list->ItemIndex(), static_cast<int>(n - 4));
  EXPECT_EQ(items[n - 3].Text, "Data");
  EXPECT_FALSE(items[n - 3].Open);
  EXPECT_EQ(items[n - 1].Text, "表");
  EXPECT_EQ(items[n - 1].Path, maker + "\\表");
  EXPECT_EQ(items[n - 1].Level, items[n - 4].Level + 1);
  EXPECT_EQ(items[n - 5].Path + "\\Maker", maker);

  form->Show();
  headless::OpenFolder(list, static_cast<int>(n - 2));
  EXPECT_EQ(list->Directory(), maker + "\\Game");
  headless::OpenFolder(list, 0);
  EXPECT_EQ(list->Directory(), "C:\\");
  // Another drive: the folder list moves first, then the drive list's own event.
  headless::SelectDrive(combo, 'd');
  EXPECT_EQ(list->Directory(), "D:\\");
  EXPECT_EQ(combo->ItemIndex(), 1);
  EXPECT_EQ(events.back(), "drive D");
  EXPECT_EQ(events[events.size() - 2], "dir D:\\");
  EXPECT_THROW(headless::SelectDrive(combo, 'Q'), EScriptError);
  // A folder that does not exist lists only its path.
  list->SetDirectory("C:\\nowhere\\deeper");
  EXPECT_EQ(list->Items().size(), 3u);
}

}  // namespace
}  // namespace vr
