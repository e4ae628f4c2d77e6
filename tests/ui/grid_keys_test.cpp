// The keyboard of a screen with grids: Tab in a grid that takes it, Ctrl+Tab and Ctrl+PgDn over
// the tabs, Enter as a double-click, Esc on a modal form, the columns' keys in the view's order,
// and the title click that sorts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/testing/fake_platform.h"

namespace fw {
namespace {

using Events = std::vector<std::string>;

// A filter panel above a page control: "Filiais" holds a grid with dgTabs, "Itens" a grid
// without it and an edit. Every enter, exit, after-scroll and double-click is logged.
class GridKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitApplication();
    Application->SetPlatform(&platform);
    form = new TForm(Application, "frmTeste");
    panel = Make<TPanel>("panFiltro", form, 1);
    edit = Make<TEdit>("edtFiltro", panel, 0);
    edit->TabStop = true;
    pages = Make<TPageControl>("pgcPaginas", form, 2);
    first = form->Create<TTabSheet>("tshFiliais", pages);
    second = form->Create<TTabSheet>("tshItens", pages);
    pages->SetActivePage(first);
    branches = Make<TDBGrid>("dbgFiliais", first, 0);
    items = Make<TDBGrid>("dbgItens", second, 0);
    items->Options &= ~static_cast<unsigned>(dgTabs);
    note = Make<TEdit>("edtNota", second, 1);
    note->TabStop = true;

    data = form->Create<TClientDataSet>("cdsFiliais");
    data->AddField("cdsFiliaisCODIGO", "CODIGO", TFieldType::ftString, 4);
    data->AddField("cdsFiliaisNOME", "NOME", TFieldType::ftString, 20);
    data->AddField("cdsFiliaisVALOR", "VALOR", TFieldType::ftFloat);
    source = form->Create<TDataSource>("dtsFiliais");
    source->SetDataSet(data);
    branches->SetDataSource(source);
    branches->Columns = {{"CODIGO", "", -1}, {"NOME", "", -1}, {"VALOR", "", -1}};
    items->Columns = {{"CODIGO", "", -1}, {"NOME", "", -1}};
    items->SetDataSource(source);
    TDataPacket packet({{"CODIGO", TFieldType::ftString, 4},
                        {"NOME", TFieldType::ftString, 20},
                        {"VALOR", TFieldType::ftFloat, 0}});
    const char* names[] = {"Matriz", "Centro", "Ávila", "Bonsucesso"};
    for (int row = 0; row < 4; ++row) {
      packet.Columns()[0].AppendString("000" + std::to_string(row + 1));
      packet.Columns()[1].AppendString(names[row]);
      packet.Columns()[2].AppendNumber(10.0 * (4 - row));
    }
    data->SetData(std::move(packet));
    data->AfterScroll = [this](TDataSet* d) {
      log.push_back("AfterScroll " + std::to_string(d->RecNo()));
    };
    for (TDBGrid* grid : {branches, items})
      grid->OnDblClick = [this](TComponent* sender) {
        log.push_back("DblClick " + sender->Name() + " " +
                      static_cast<TDBGrid*>(sender)->SelectedField()->FieldName());
      };
    pages->OnChange = [this](TComponent*) { log.push_back("Change pgcPaginas"); };
    form->Show();
    log.clear();
  }
  void TearDown() override { DoneApplication(); }

  template <typename T>
  T* Make(const char* name, TWinControl* parent, int tabOrder) {
    T* control = form->Create<T>(name);
    control->SetParent(parent);
    control->SetBounds(0, 0, 50, 20);
    control->SetTabOrder(tabOrder);
    control->OnEnter = [this, name](TComponent*) { log.push_back(std::string("enter ") + name); };
    control->OnExit = [this, name](TComponent*) { log.push_back(std::string("exit ") + name); };
    return control;
  }

  std::string Selected(TDBGrid* grid) const {
    TField* field = grid->SelectedField();
    return field ? field->FieldName() : "(none)";
  }

  TFakePlatform platform;
  TForm* form = nullptr;
  TPanel* panel = nullptr;
  TEdit* edit = nullptr;
  TPageControl* pages = nullptr;
  TTabSheet* first = nullptr;
  TTabSheet* second = nullptr;
  TDBGrid* branches = nullptr;
  TDBGrid* items = nullptr;
  TEdit* note = nullptr;
  TClientDataSet* data = nullptr;
  TDataSource* source = nullptr;
  Events log;
};

TEST_F(GridKeysTest, TabInAGridWithDgTabs_MovesTheColumn_AndLeavesOnlyPastTheLastOne) {
  Application->UserSelectColumn(branches, 0);
  log.clear();
  Application->UserKey(branches, vk::Tab, 0);
  EXPECT_EQ("NOME", Selected(branches));
  Application->UserKey(branches, vk::Tab, 0);
  EXPECT_EQ("VALOR", Selected(branches));
  EXPECT_EQ(branches, form->ActiveControl());
  EXPECT_EQ(Events{}, log) << "no exit: the filter panel is not entered";

  Application->UserKey(branches, vk::Tab, ssShift);
  Application->UserKey(branches, vk::Tab, ssShift);
  EXPECT_EQ("CODIGO", Selected(branches));
  EXPECT_EQ(branches, form->ActiveControl());

  // Past the first column Shift+Tab leaves, as the form framework does.
  Application->UserKey(branches, vk::Tab, ssShift);
  EXPECT_EQ(edit, form->ActiveControl());
  EXPECT_EQ((Events{"exit dbgFiliais", "exit pgcPaginas", "enter panFiltro", "enter edtFiltro"}),
            log);

  // A grid without dgTabs is left at once.
  Application->UserSelectTab(second);
  Application->UserFocus(items);
  log.clear();
  Application->UserKey(items, vk::Tab, 0);
  EXPECT_EQ(note, form->ActiveControl());
  EXPECT_EQ((Events{"exit dbgItens", "enter edtNota"}), log);
}

TEST_F(GridKeysTest, TheColumnKeys_FollowTheViewsOrder_AndSkipHiddenColumns) {
  // The view shows VALOR first and hides CODIGO.
  branches->ViewOrder = {2, 1};
  Application->UserSelectColumn(branches, 2);
  Application->UserKey(branches, vk::Tab, 0);
  EXPECT_EQ("NOME", Selected(branches));
  Application->UserKey(branches, vk::Left, 0);
  EXPECT_EQ("VALOR", Selected(branches));
  Application->UserKey(branches, vk::End, 0);
  EXPECT_EQ("NOME", Selected(branches));
  Application->UserKey(branches, vk::Home, 0);
  EXPECT_EQ("VALOR", Selected(branches));
  Application->UserKey(branches, vk::Left, 0);
  EXPECT_EQ("VALOR", Selected(branches)) << "no column before the first";
  EXPECT_EQ("CODIGO", branches->Columns[0].FieldName) << "the designed columns are untouched";
}

TEST_F(GridKeysTest, CtrlTabAndCtrlPgDn_ChangeTheTab_TheFocusFollowsToTheNewPage) {
  Application->UserFocus(branches);
  log.clear();
  Application->UserKey(branches, vk::Tab, ssCtrl);
  EXPECT_EQ(second, pages->ActivePage());
  EXPECT_EQ(items, form->ActiveControl());
  EXPECT_EQ((Events{"Change pgcPaginas", "enter dbgItens"}), log)
      << "as a tab click, the page change itself raises no exit";

  log.clear();
  Application->UserKey(items, vk::PageUp, ssCtrl);
  EXPECT_EQ(first, pages->ActivePage());
  EXPECT_EQ(branches, form->ActiveControl());
  Application->UserKey(branches, vk::Tab, ssCtrl | ssShift);
  EXPECT_EQ(second, pages->ActivePage());
  Application->UserKey(items, vk::PageDown, ssCtrl);
  EXPECT_EQ(first, pages->ActivePage()) << "round from the last tab to the first";
  for (const std::string& event : log) EXPECT_EQ(std::string::npos, event.find("AfterScroll"));

  // From the filter panel the tabs change below it and the focus stays.
  Application->UserFocus(edit);
  Application->UserKey(edit, vk::PageDown, ssCtrl);
  EXPECT_EQ(second, pages->ActivePage());
  EXPECT_EQ(edit, form->ActiveControl());
}

TEST_F(GridKeysTest, CtrlTabWithOneTab_LeavesTheGridAsTabDoes) {
  second->TabVisible = false;
  Application->UserFocus(branches);
  Application->UserKey(branches, vk::Tab, ssCtrl);
  EXPECT_EQ(first, pages->ActivePage());
  EXPECT_EQ(edit, form->ActiveControl()) << "the next tab stop, round the form";
}

TEST_F(GridKeysTest, EnterInAGrid_IsADoubleClickOnTheSelectedCell) {
  Application->UserSelectColumn(branches, 1);
  log.clear();
  Application->UserKey(branches, vk::Return, 0);
  EXPECT_EQ(Events{"DblClick dbgFiliais NOME"}, log);
  // A key handler that takes Enter keeps it from the grid.
  branches->OnKeyDown = [](TComponent*, uint16_t& key, TShiftState) {
    if (key == vk::Return) key = 0;
  };
  log.clear();
  Application->UserKey(branches, vk::Return, 0);
  EXPECT_EQ(Events{}, log);
}

TEST_F(GridKeysTest, TitleClicks_SortAscendingThenDescendingThenTheServicesOrder) {
  Application->UserSelectRow(branches, 1);  // Centro
  Application->UserFocus(edit);
  log.clear();
  auto names = [this] {
    std::vector<std::string> shown;
    for (int row = 0; row < branches->RowCount(); ++row)
      shown.push_back(branches->CellText(row, 1));
    return shown;
  };
  bool descending = true;
  ASSERT_TRUE(Application->UserTitleClick(branches, 1));
  EXPECT_EQ((Events{"Ávila", "Bonsucesso", "Centro", "Matriz"}), names());
  EXPECT_EQ(1, branches->SortColumn(&descending));
  EXPECT_FALSE(descending);
  EXPECT_EQ(3, data->RecNo()) << "Centro stays current";
  Application->UserTitleClick(branches, 1);
  EXPECT_EQ((Events{"Matriz", "Centro", "Bonsucesso", "Ávila"}), names());
  EXPECT_EQ(1, branches->SortColumn(&descending));
  EXPECT_TRUE(descending);
  Application->UserTitleClick(branches, 1);
  EXPECT_EQ((Events{"Matriz", "Centro", "Ávila", "Bonsucesso"}), names());
  EXPECT_EQ(-1, branches->SortColumn());
  // Another column's title starts again, ascending; numbers by value.
  Application->UserTitleClick(branches, 2);
  EXPECT_EQ((Events{"Bonsucesso", "Ávila", "Centro", "Matriz"}), names());
  EXPECT_EQ(Events{}, log) << "no after-scroll, no focus move";
  EXPECT_EQ(edit, form->ActiveControl());

  // The cursor keys go down the sorted rows.
  Application->UserFocus(branches);
  Application->UserKey(branches, vk::Home, ssCtrl);
  Application->UserKey(branches, vk::Down, 0);
  EXPECT_EQ("Ávila", data->FieldByName("NOME")->AsString());
}

}  // namespace
}  // namespace fw
