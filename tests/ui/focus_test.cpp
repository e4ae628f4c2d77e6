// Focus moves: the order of exit and enter events, moves cancelled by a handler, failures inside
// the chain, and the container that focuses itself on entry.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/testing/fake_platform.h"

namespace fw {
namespace {

class FocusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitApplication();
    Application->SetPlatform(&platform);
    form = new TForm(Application, "frmTeste");
    panel = Make<TPanel>("panFiltro", form);
    group = Make<TGroupBox>("grbDatas", panel);
    first = Make<TEdit>("edtPrimeiro", group);
    second = Make<TEdit>("edtSegundo", group);
    other = Make<TEdit>("edtOutro", panel);
    grid = Make<TDBGrid>("dbgGrade", form);
    form->Show();
  }
  void TearDown() override { DoneApplication(); }

  template <typename T>
  T* Make(const char* name, TWinControl* parent) {
    T* control = form->Create<T>(name);
    control->SetParent(parent);
    control->SetBounds(0, 0, 50, 20);
    control->OnEnter = [this, name](TComponent*) { log.push_back(std::string("enter ") + name); };
    control->OnExit = [this, name](TComponent*) { log.push_back(std::string("exit ") + name); };
    return control;
  }

  TFakePlatform platform;
  TForm* form = nullptr;
  TPanel* panel = nullptr;
  TGroupBox* group = nullptr;
  TEdit* first = nullptr;
  TEdit* second = nullptr;
  TEdit* other = nullptr;
  TDBGrid* grid = nullptr;
  std::vector<std::string> log;
};

using Events = std::vector<std::string>;

TEST_F(FocusTest, EnteringNestedControlFromOutside_EntersContainersOutermostFirst) {
  Application->UserFocus(grid);
  log.clear();
  Application->UserFocus(first);
  EXPECT_EQ(log,
            (Events{"exit dbgGrade", "enter panFiltro", "enter grbDatas", "enter edtPrimeiro"}));
  EXPECT_EQ(form->ActiveControl(), first);
}

TEST_F(FocusTest, LeavingNestedControlForOutside_ExitsInnermostFirst) {
  Application->UserFocus(first);
  log.clear();
  Application->UserFocus(grid);
  EXPECT_EQ(log, (Events{"exit edtPrimeiro", "exit grbDatas", "exit panFiltro", "enter dbgGrade"}));
}

TEST_F(FocusTest, MovingWithinContainer_RaisesNoContainerEvents) {
  Application->UserFocus(first);
  log.clear();
  Application->UserFocus(second);
  EXPECT_EQ(log, (Events{"exit edtPrimeiro", "enter edtSegundo"}));
  log.clear();
  Application->UserFocus(other);
  EXPECT_EQ(log, (Events{"exit edtSegundo", "exit grbDatas", "enter edtOutro"}));
}

TEST_F(FocusTest, HandlerMovingFocusDuringExit_AbandonsMoveWithoutReentry) {
  Application->UserFocus(second);
  panel->OnExit = [this](TComponent*) {
    log.push_back("exit panFiltro");
    first->SetFocus();
  };
  log.clear();
  Application->UserFocus(grid);
  EXPECT_EQ(log, (Events{"exit edtSegundo", "exit grbDatas", "exit panFiltro"}));
  EXPECT_EQ(form->ActiveControl(), first);
  // The panel is still the focus's container: a later move out raises its exit again.
  panel->OnExit = [this](TComponent*) { log.push_back("exit panFiltro"); };
  log.clear();
  Application->UserFocus(grid);
  EXPECT_EQ(log, (Events{"exit edtPrimeiro", "exit grbDatas", "exit panFiltro", "enter dbgGrade"}));
}

TEST_F(FocusTest, ExitHandlerFailingWithoutMovingTheFocus_IsShownOnceAndTheMoveGoesOn) {
  Application->UserFocus(first);
  group->OnExit = [this](TComponent*) {
    log.push_back("exit grbDatas");
    throw std::runtime_error("Servidor indisponível.");
  };
  log.clear();
  EXPECT_TRUE(Application->UserFocus(grid));
  EXPECT_EQ(log, (Events{"exit edtPrimeiro", "exit grbDatas", "exit panFiltro", "enter dbgGrade"}));
  EXPECT_EQ(form->ActiveControl(), grid);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Servidor indisponível."}));

  // A move asked for by the program: shown the same way, nothing reaches the caller.
  Application->UserFocus(second);
  platform.Errors.clear();
  ASSERT_NO_THROW(grid->SetFocus());
  EXPECT_EQ(form->ActiveControl(), grid);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Servidor indisponível."}));
}

TEST_F(FocusTest, ExitHandlerAbortingAfterItsOwnMessage_StaysSilentAndTheMoveGoesOn) {
  Application->UserFocus(first);
  panel->OnExit = [this](TComponent*) {
    platform.ShowError("Recusado pelo servidor.");  // as the result check reports a refusal
    throw EAbort();
  };
  Application->UserFocus(grid);
  EXPECT_EQ(form->ActiveControl(), grid);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Recusado pelo servidor."}));
}

TEST_F(FocusTest, ValidationFocusingItsControlThenFailing_CancelsTheMove) {
  Application->UserFocus(second);
  panel->OnExit = [this](TComponent*) {
    log.push_back("exit panFiltro");
    first->SetFocus();
    throw std::runtime_error("Data inválida.");
  };
  log.clear();
  Application->UserFocus(grid);
  EXPECT_EQ(log, (Events{"exit edtSegundo", "exit grbDatas", "exit panFiltro"}));
  EXPECT_EQ(form->ActiveControl(), first);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Data inválida."}));
  // From the program the failure reaches the caller.
  log.clear();
  EXPECT_THROW(grid->SetFocus(), std::runtime_error);
  EXPECT_EQ(form->ActiveControl(), first);
}

TEST_F(FocusTest, ExitFailureWhenTheChosenControlCanNoLongerTakeTheFocus_CancelsTheMove) {
  Application->UserFocus(first);
  group->OnExit = [this](TComponent*) {
    grid->SetEnabled(false);
    throw std::runtime_error("Falha ao sair.");
  };
  Application->UserFocus(grid);
  EXPECT_EQ(form->ActiveControl(), first);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Falha ao sair."}));
}

TEST_F(FocusTest, ContainerFocusingItselfOnEntry_LetsTheMoveReachTheChosenControl) {
  Application->UserFocus(grid);
  panel->OnEnter = [this](TComponent*) {
    log.push_back("enter panFiltro");
    panel->SetFocus();
  };
  log.clear();
  Application->UserFocus(second);
  EXPECT_EQ(log,
            (Events{"exit dbgGrade", "enter panFiltro", "enter grbDatas", "enter edtSegundo"}));
  EXPECT_EQ(form->ActiveControl(), second);
}

TEST_F(FocusTest, ProgramFocusingContainer_LeavesFocusOnContainer) {
  Application->UserFocus(grid);
  panel->OnEnter = [this](TComponent*) {
    log.push_back("enter panFiltro");
    panel->SetFocus();
  };
  log.clear();
  panel->SetFocus();
  EXPECT_EQ(log, (Events{"exit dbgGrade", "enter panFiltro"}));
  EXPECT_EQ(form->ActiveControl(), panel);
}

TEST_F(FocusTest, DisabledOrHiddenControls_RefuseFocus) {
  Application->UserFocus(grid);
  first->SetEnabled(false);
  EXPECT_FALSE(Application->UserFocus(first));
  group->SetVisible(false);
  EXPECT_FALSE(Application->UserFocus(second));
  EXPECT_EQ(form->ActiveControl(), grid);
}

TEST_F(FocusTest, ControlsOnPageOutOfView_CannotTakeFocus) {
  auto* pages = form->Create<TPageControl>("pgc");
  pages->SetParent(form);
  auto* front = form->Create<TTabSheet>("tshFrente", pages);
  auto* back = form->Create<TTabSheet>("tshVerso", pages);
  auto* edit = form->Create<TEdit>("edtVerso");
  edit->SetParent(back);
  EXPECT_EQ(pages->ActivePage(), front);
  EXPECT_FALSE(Application->UserFocus(edit));
  Application->UserSelectTab(back);
  EXPECT_TRUE(Application->UserFocus(edit));
}

TEST_F(FocusTest, TabKey_MovesThroughTabStopsInTabOrder) {
  first->SetTabOrder(1);
  second->SetTabOrder(0);
  Application->UserFocus(second);
  Application->UserKey(second, vk::Tab, 0);
  EXPECT_EQ(form->ActiveControl(), first);
  Application->UserKey(first, vk::Tab, ssShift);
  EXPECT_EQ(form->ActiveControl(), second);
}

}  // namespace
}  // namespace fw
