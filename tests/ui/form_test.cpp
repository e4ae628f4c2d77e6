// Forms, radio buttons, edits, menus and the dispatcher.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/fake_platform.h"
#include "framework/host/services.h"

namespace fw {
namespace {

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitApplication();
    Application->SetPlatform(&platform);
  }
  void TearDown() override { DoneApplication(); }
  TFakePlatform platform;
};

class TFailingForm : public TForm {
 public:
  explicit TFailingForm(TComponent* owner) : TForm(owner, "frmFalha") {
    SetCaption("Falha");
    OnCreate = [this](TComponent*) {
      createdBeforeFailure = reference == this;
      throw std::runtime_error("Servidor indisponível.");
    };
  }
  static inline TFailingForm* reference = nullptr;
  bool createdBeforeFailure = false;
};

TEST_F(FormTest, CreateHandlerThrowing_IsShownOnceAndFormStillCreatedAndShown) {
  TFailingForm* form = Application->CreateForm(TFailingForm::reference);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->createdBeforeFailure) << "the reference is stored before the handler runs";
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Servidor indisponível."}));
  form->Show();
  EXPECT_TRUE(form->Visible());
  EXPECT_EQ(Application->ActiveForm(), form);
}

TEST_F(FormTest, MensErroInHandler_ShowsOnceAndSkipsTheRest) {
  auto* form = new TForm(Application, "frm");
  auto* button = form->Create<TSpeedButton>("sbt");
  button->SetParent(form);
  bool after = false;
  button->OnClick = [&](TComponent*) {
    MensErro("Filial deve ser informada.", true);
    after = true;
  };
  form->Show();
  Application->UserClick(button);
  EXPECT_FALSE(after);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Filial deve ser informada."}));
}

TEST_F(FormTest, RadioButtonChecked_RaisesClickOnceAndUnchecksSiblingsSilently) {
  auto* form = new TForm(Application, "frm");
  auto* group = form->Create<TGroupBox>("grb");
  group->SetParent(form);
  auto* all = form->Create<TRadioButton>("rbtTodas");
  auto* list = form->Create<TRadioButton>("rbtLista");
  all->SetParent(group);
  list->SetParent(group);
  std::vector<std::string> clicks;
  all->OnClick = [&](TComponent*) { clicks.push_back("todas"); };
  list->OnClick = [&](TComponent*) { clicks.push_back("lista"); };
  form->Show();

  all->SetChecked(true);
  all->SetChecked(true);
  EXPECT_EQ(clicks, (std::vector<std::string>{"todas"}));
  Application->UserClick(list);
  EXPECT_EQ(clicks, (std::vector<std::string>{"todas", "lista"}));
  EXPECT_FALSE(all->Checked());
  EXPECT_TRUE(list->Checked());
  EXPECT_EQ(form->ActiveControl(), list) << "a clicked radio button takes the focus";
}

TEST_F(FormTest, EditTextSetByProgram_RaisesChangeOnlyWhenDifferent) {
  auto* form = new TForm(Application, "frm");
  auto* edit = form->Create<TEdit>("edt");
  int changes = 0;
  edit->OnChange = [&](TComponent*) { ++changes; };
  edit->SetText("01002003");
  edit->SetText("01002003");
  edit->SetText("");
  EXPECT_EQ(changes, 2);
}

TEST_F(FormTest, MenuShortcut_ClicksEnabledItemBeforeControlSeesKey) {
  auto* form = new TForm(Application, "frm");
  form->Menu = form->Create<TMainMenu>("mnuMenu");
  auto* item = form->Create<TMenuItem>("mnuAutomatico");
  item->SetCaption("Cadastramento A&utomático");
  item->SetShortCut(16449);
  form->Menu->Items()->Add(item);
  auto* edit = form->Create<TEdit>("edt");
  edit->SetParent(form);
  int clicks = 0, keys = 0;
  item->OnClick = [&](TComponent*) { ++clicks; };
  edit->OnKeyDown = [&](TComponent*, uint16_t&, TShiftState) { ++keys; };
  form->Show();

  EXPECT_EQ(ShortCut('A', ssCtrl), 16449);
  EXPECT_EQ(item->AccessLetter(), 'u');
  Application->UserKey(edit, 'A', ssCtrl);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(keys, 0);
  item->SetEnabled(false);
  Application->UserKey(edit, 'A', ssCtrl);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(keys, 1);
}

TEST_F(FormTest, FormReleasedFromItsOwnHandler_IsFreedAfterTheEvent) {
  auto* form = new TForm(Application, "frm");
  auto* button = form->Create<TSpeedButton>("sbtFechar");
  button->SetParent(form);
  form->OnClose = [](TComponent*, TCloseAction& action) { action = TCloseAction::caFree; };
  bool stillAlive = false;
  button->OnClick = [&](TComponent*) {
    form->Close();
    stillAlive = Application->FindForm("frm") == form;
  };
  form->Show();
  Application->UserClick(button);
  EXPECT_TRUE(stillAlive);
  EXPECT_EQ(Application->FindForm("frm"), nullptr);
}

TEST_F(FormTest, ModalForm_ReturnsWhenClosedAndReactivatesTheFormBelow) {
  auto* main = new TForm(Application, "frmPrincipal");
  int mainActivations = 0;
  main->OnActivate = [&](TComponent*) { ++mainActivations; };
  main->Show();
  auto* dialog = new TForm(Application, "frmDialogo");
  platform.OnModal = [&](TForm* shown) {
    EXPECT_EQ(Application->ActiveForm(), dialog);
    Application->UserClose(shown);
  };
  dialog->ShowModal();
  EXPECT_FALSE(dialog->Visible());
  EXPECT_EQ(Application->ActiveForm(), main);
  EXPECT_EQ(mainActivations, 2);
}

TEST_F(FormTest, ActivatingAgain_RaisesActivateEachTimeTheUserComesBack) {
  auto* form = new TForm(Application, "frm");
  int activations = 0;
  form->OnActivate = [&](TComponent*) { ++activations; };
  form->Show();
  form->Show();
  EXPECT_EQ(activations, 1) << "showing the active form again does not activate it";
  Application->UserActivate(form);
  EXPECT_EQ(activations, 2);
}

}  // namespace
}  // namespace fw

namespace fw {
namespace {

TEST_F(FormTest, ModalFormFreedOnClose_OutsideAnyEvent_IsFreedOnlyAfterShowModalReturns) {
  auto* dialog = new TForm(Application, "frmDialogo");
  dialog->OnClose = [](TComponent*, TCloseAction& action) { action = TCloseAction::caFree; };
  platform.OnModal = [&](TForm* shown) {
    Application->UserClose(shown);
    EXPECT_EQ(Application->FindForm("frmDialogo"), shown) << "still shown modally";
  };
  // Called outside any user event, as a host calling the package directly would.
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_EQ(Application->FindForm("frmDialogo"), nullptr);
}

}  // namespace
}  // namespace fw

namespace fw {
namespace {

TEST_F(FormTest, FormShownWithoutFocusedControl_FocusesFirstTabStopWithEnterEvents) {
  auto* form = new TForm(Application, "frm");
  auto* label = form->Create<TLabel>("lbl");
  label->SetParent(form);
  auto* panel = form->Create<TPanel>("pan");
  panel->SetParent(form);
  auto* second = form->Create<TEdit>("edtSegundo");
  second->SetParent(panel);
  second->SetTabOrder(1);
  auto* first = form->Create<TEdit>("edtPrimeiro");
  first->SetParent(panel);
  first->SetTabOrder(0);
  std::vector<std::string> entered;
  panel->OnEnter = [&](TComponent*) { entered.push_back("pan"); };
  first->OnEnter = [&](TComponent*) { entered.push_back("edtPrimeiro"); };
  form->ShowModal();
  EXPECT_EQ(form->ActiveControl(), first);
  EXPECT_EQ(entered, (std::vector<std::string>{"pan", "edtPrimeiro"}));
}

}  // namespace
}  // namespace fw
