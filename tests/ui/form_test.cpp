// Forms, radio buttons, edits, menus and the dispatcher.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/host/services.h"
#include "framework/testing/fake_platform.h"

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

namespace fw {
namespace {

// While the item screen is modal the request screen under it is out of the user's reach: no
// activation, no closing, no input of any kind; the modal form itself answers, and Esc closes it.
TEST_F(FormTest, ModalForm_ShutsOutEveryOtherForm_UntilItCloses) {
  auto* below = new TForm(Application, "frmAcompSoli");
  auto* edit = below->Create<TEdit>("edtFiltro");
  edit->SetParent(below);
  edit->TabStop = true;
  auto* grid = below->Create<TDBGrid>("dbgPadrao");
  grid->SetParent(below);
  auto* data = below->Create<TClientDataSet>("cdsDados");
  data->AddField("cdsDadosNOME", "NOME", TFieldType::ftString, 10);
  auto* source = below->Create<TDataSource>("dtsDados");
  source->SetDataSet(data);
  grid->SetDataSource(source);
  grid->Columns = {{"NOME", "", -1}};
  auto* item = below->Create<TMenuItem>("mnuVerificar");
  int closes = 0, clicks = 0;
  below->OnClose = [&](TComponent*, TCloseAction& action) {
    ++closes;
    action = TCloseAction::caHide;
  };
  item->OnClick = [&](TComponent*) { ++clicks; };
  below->Show();

  auto* modal = new TForm(Application, "frmAcompItens");
  auto* inside = modal->Create<TEdit>("edtDentro");
  inside->SetParent(modal);
  inside->TabStop = true;
  struct {
    bool Activate, Close, Focus, Type, Key, Menu, Row, Title, Sort, Inside, Esc;
    TForm* Active;
  } seen{};
  platform.OnModal = [&](TForm* shown) {
    EXPECT_EQ(Application->ModalForm(), shown);
    seen.Activate = Application->UserActivate(below);
    seen.Close = Application->UserClose(below);
    seen.Focus = Application->UserFocus(edit);
    seen.Type = Application->UserType(edit, "x");
    seen.Key = Application->UserKey(grid, vk::Down, 0);
    seen.Menu = Application->UserClickMenu(item);
    seen.Row = Application->UserSelectRow(grid, 0);
    seen.Title = Application->UserTitleClick(grid, 0);
    seen.Sort = Application->UserSort(grid, {{"NOME"}});
    seen.Active = Application->ActiveForm();
    seen.Inside = Application->UserType(inside, "ok");
    seen.Esc = Application->UserKey(inside, vk::Escape, 0);
  };
  modal->ShowModal();

  EXPECT_FALSE(seen.Activate);
  EXPECT_FALSE(seen.Close);
  EXPECT_FALSE(seen.Focus);
  EXPECT_FALSE(seen.Type);
  EXPECT_FALSE(seen.Key);
  EXPECT_FALSE(seen.Menu);
  EXPECT_FALSE(seen.Row);
  EXPECT_FALSE(seen.Title);
  EXPECT_FALSE(seen.Sort);
  EXPECT_EQ(seen.Active, modal) << "the modal form stays the active one";
  EXPECT_EQ(0, closes);
  EXPECT_EQ(0, clicks);
  EXPECT_TRUE(below->Visible());
  EXPECT_EQ("", edit->Text());
  EXPECT_TRUE(data->IndexFields().empty());
  EXPECT_TRUE(seen.Inside);
  EXPECT_EQ("ok", inside->Text());
  EXPECT_TRUE(seen.Esc);
  EXPECT_FALSE(modal->Visible()) << "Esc closed the modal form";

  // Closed, it shuts out nothing.
  EXPECT_EQ(nullptr, Application->ModalForm());
  EXPECT_EQ(Application->ActiveForm(), below);
  EXPECT_TRUE(Application->UserType(edit, "x"));
  EXPECT_TRUE(Application->UserClose(below));
  EXPECT_EQ(1, closes);
}

}  // namespace
}  // namespace fw
