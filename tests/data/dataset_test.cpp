#include "framework/data/dataset.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "protocol/datetime.h"

namespace {

using namespace fw;

using Cell = std::variant<std::monostate, std::string, double>;

TDataPacket MakePacket(std::vector<TPacketField> fields,
                       const std::vector<std::vector<Cell>>& rows) {
  TDataPacket packet(std::move(fields));
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      auto& column = packet.Columns()[i];
      if (const auto* text = std::get_if<std::string>(&row[i]))
        column.AppendString(*text);
      else if (const auto* number = std::get_if<double>(&row[i]))
        column.AppendNumber(*number);
      else
        column.AppendNull();
    }
  }
  return packet;
}

const std::vector<TPacketField> kItemFields = {{"STATUS", TFieldType::ftString, 1},
                                               {"NRSOLICMP", TFieldType::ftString, 10},
                                               {"QTSOLIPROD", TFieldType::ftFloat, 0},
                                               {"DTPROGENTR", TFieldType::ftDateTime, 0}};

TDataPacket ItemRows(int count) {
  std::vector<std::vector<Cell>> rows;
  for (int i = 0; i < count; ++i)
    rows.push_back({std::string(1, static_cast<char>('A' + i)), "000000000" + std::to_string(i + 1),
                    1234.5 * (i + 1), 45356.0 + i});
  return MakePacket(kItemFields, rows);
}

const char* StateName(TDataSetState state) {
  return state == TDataSetState::dsBrowse ? "browse" : "closed";
}

// A screen-like owner with one items data set, its fields and a data source, recording every event.
class ItemsDataSet : public ::testing::Test {
 protected:
  ItemsDataSet() {
    cds = owner.Create<TClientDataSet>("cdsItensGrid");
    status = cds->AddField("cdsItensGridSTATUS", "STATUS", TFieldType::ftString, 1);
    number = cds->AddField("cdsItensGridNRSOLICMP", "NRSOLICMP", TFieldType::ftString, 10);
    quantity = cds->AddField("cdsItensGridQTSOLIPROD", "QTSOLIPROD", TFieldType::ftFloat);
    delivery = cds->AddField("cdsItensGridDTPROGENTR", "DTPROGENTR", TFieldType::ftDateTime);
    source = owner.Create<TDataSource>("dtsItensGrid");
    source->SetDataSet(cds);
    source->OnStateChange = [this](TDataSource* s) {
      events.push_back(std::string("State:") + StateName(s->State()));
    };
    cds->AfterOpen = [this](TDataSet*) { events.push_back("AfterOpen"); };
    cds->AfterScroll = [this](TDataSet* d) {
      events.push_back("AfterScroll:" + std::to_string(d->RecNo()));
    };
  }

  void Load(int rows) {
    cds->SetData(ItemRows(rows));
    events.clear();
  }

  TComponent owner{nullptr, "frmAcompSoli"};
  TClientDataSet* cds = nullptr;
  TField* status = nullptr;
  TField* number = nullptr;
  TField* quantity = nullptr;
  TField* delivery = nullptr;
  TDataSource* source = nullptr;
  std::vector<std::string> events;
};

using Events = std::vector<std::string>;

// ---- Loading and closing ----

TEST_F(ItemsDataSet, SetData_WithRows_RaisesStateChangeAfterOpenThenAfterScrollOnFirstRow) {
  cds->SetData(ItemRows(3));
  EXPECT_EQ(events, (Events{"State:browse", "AfterOpen", "AfterScroll:1"}));
  EXPECT_TRUE(cds->Active());
  EXPECT_EQ(cds->RecordCount(), 3);
  EXPECT_EQ(status->AsString(), "A");
}

TEST_F(ItemsDataSet, SetData_WithoutRows_OpensEmptyAndRaisesNoAfterScroll) {
  cds->SetData(ItemRows(0));
  EXPECT_EQ(events, (Events{"State:browse", "AfterOpen"}));
  EXPECT_TRUE(cds->Active());
  EXPECT_TRUE(cds->IsEmpty());
  EXPECT_EQ(cds->RecNo(), 0);
  EXPECT_TRUE(cds->Eof());
  EXPECT_TRUE(cds->Bof());
  EXPECT_TRUE(status->IsNull());
}

TEST_F(ItemsDataSet, SetData_WhileOpen_ClosesThenOpensWithTheNewRows) {
  Load(3);
  cds->MoveTo(2);
  int rowsSeenWhileClosed = -1;
  source->OnStateChange = [&](TDataSource* s) {
    events.push_back(std::string("State:") + StateName(s->State()));
    if (s->State() == TDataSetState::dsInactive) rowsSeenWhileClosed = cds->RecordCount();
  };
  events.clear();
  cds->SetData(ItemRows(2));
  EXPECT_EQ(events, (Events{"State:closed", "State:browse", "AfterOpen", "AfterScroll:1"}));
  EXPECT_EQ(rowsSeenWhileClosed, 0);
  EXPECT_EQ(cds->RecordCount(), 2);
  EXPECT_EQ(cds->RecNo(), 1);
}

TEST_F(ItemsDataSet, Close_WhenOpen_RaisesOnlyStateChange_AndWhenClosedNothing) {
  Load(3);
  cds->Close();
  EXPECT_EQ(events, (Events{"State:closed"}));
  cds->Close();
  EXPECT_EQ(events, (Events{"State:closed"}));
}

TEST_F(ItemsDataSet, ClosedDataSet_CountsAsEmptyAndReadsNull) {
  for (bool loadedBefore : {false, true}) {
    if (loadedBefore) {
      Load(3);
      cds->Close();
      events.clear();
    }
    EXPECT_FALSE(cds->Active());
    EXPECT_TRUE(cds->IsEmpty());
    EXPECT_EQ(cds->RecordCount(), 0);
    EXPECT_EQ(cds->RecNo(), 0);
    EXPECT_TRUE(quantity->IsNull());
    EXPECT_EQ(quantity->AsFloat(), 0);
    EXPECT_EQ(delivery->AsDateTime(), kZeroDate);
    EXPECT_EQ(status->AsString(), "");
    EXPECT_EQ(quantity->DisplayText(), "");
    cds->Next();
    cds->Last();
    cds->MoveTo(1);
    EXPECT_FALSE(cds->Locate("STATUS", "A"));
    EXPECT_TRUE(events.empty());
  }
}

TEST_F(ItemsDataSet, SetData_WithTypeMismatch_RaisesAndLeavesRowsAndCursor) {
  Load(3);
  cds->Next();
  events.clear();
  auto fields = kItemFields;
  fields[2].Type = TFieldType::ftString;
  try {
    cds->SetData(MakePacket(fields, {{"Z", "1", "12", 0.0}}));
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Campo 'QTSOLIPROD' com tipo incompatível no pacote de dados.");
  }
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(cds->RecordCount(), 3);
  EXPECT_EQ(cds->RecNo(), 2);
  EXPECT_EQ(status->AsString(), "B");
}

TEST_F(ItemsDataSet, SetData_WithRaggedPacket_RaisesAndLeavesRows) {
  Load(2);
  TDataPacket ragged = ItemRows(2);
  ragged.Columns()[1].AppendString("extra");
  EXPECT_THROW(cds->SetData(std::move(ragged)), EDatabaseError);
  EXPECT_EQ(cds->RecordCount(), 2);
  EXPECT_TRUE(events.empty());
}

TEST_F(ItemsDataSet, SetData_FillsFieldsByName_IgnoringExtraColumns_MissingFieldReadsNull) {
  cds->SetData(MakePacket({{"EXTRA", TFieldType::ftFloat, 0},
                           {"NRSOLICMP", TFieldType::ftString, 10},
                           {"status", TFieldType::ftString, 1}},
                          {{1.0, "0000000042", "C"}}));
  EXPECT_EQ(number->AsString(), "0000000042");
  EXPECT_EQ(status->AsString(), "C");  // a column named in another case still fills the field
  EXPECT_TRUE(quantity->IsNull());
  EXPECT_TRUE(delivery->IsNull());
  EXPECT_EQ(cds->FindField("EXTRA"), nullptr);
}

TEST_F(ItemsDataSet, AfterScrollFailure_InsideSetData_PropagatesWithNewRowsLoaded) {
  cds->AfterScroll = [](TDataSet*) { throw std::runtime_error("remote call failed"); };
  EXPECT_THROW(cds->SetData(ItemRows(3)), std::runtime_error);
  EXPECT_TRUE(cds->Active());
  EXPECT_EQ(cds->RecordCount(), 3);
  EXPECT_EQ(cds->RecNo(), 1);
  EXPECT_EQ(status->AsString(), "A");
}

TEST_F(ItemsDataSet, AfterScrollFailure_OnNext_PropagatesWithCursorMoved) {
  Load(3);
  cds->AfterScroll = [](TDataSet*) { throw std::runtime_error("remote call failed"); };
  EXPECT_THROW(cds->Next(), std::runtime_error);
  EXPECT_EQ(cds->RecNo(), 2);
}

TEST_F(ItemsDataSet, AfterOpenThatCloses_PreventsAfterScroll) {
  cds->AfterOpen = [this](TDataSet* d) {
    events.push_back("AfterOpen");
    d->Close();
  };
  cds->SetData(ItemRows(2));
  EXPECT_EQ(events, (Events{"State:browse", "AfterOpen", "State:closed"}));
}

// ---- Moving the cursor ----

struct MoveCase {
  const char* name;
  int startRow;  // 0-based, in 5 rows
  std::function<void(TDataSet*)> move;
  int recNo;
  bool scrolls;
  bool eof;
  bool bof;
};

void PrintTo(const MoveCase& c, std::ostream* os) {
  *os << c.name;
}

class CursorMoves : public ItemsDataSet, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(CursorMoves, RaiseAfterScrollOnlyWhenTheRowChanges) {
  Load(5);
  cds->MoveTo(GetParam().startRow);
  events.clear();
  GetParam().move(cds);
  EXPECT_EQ(cds->RecNo(), GetParam().recNo);
  Events expected;
  if (GetParam().scrolls) expected.push_back("AfterScroll:" + std::to_string(GetParam().recNo));
  EXPECT_EQ(events, expected);
  EXPECT_EQ(cds->Eof(), GetParam().eof);
  EXPECT_EQ(cds->Bof(), GetParam().bof);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, CursorMoves,
    ::testing::Values(
        MoveCase{"NextInTheMiddle", 1, [](TDataSet* d) { d->Next(); }, 3, true, false, false},
        MoveCase{"NextOnLastRow", 4, [](TDataSet* d) { d->Next(); }, 5, false, true, false},
        MoveCase{"PriorOnFirstRow", 0, [](TDataSet* d) { d->Prior(); }, 1, false, false, true},
        MoveCase{"PriorInTheMiddle", 2, [](TDataSet* d) { d->Prior(); }, 2, true, false, false},
        MoveCase{"FirstFromLast", 4, [](TDataSet* d) { d->First(); }, 1, true, false, true},
        MoveCase{"FirstOnFirst", 0, [](TDataSet* d) { d->First(); }, 1, false, false, true},
        MoveCase{"LastFromFirst", 0, [](TDataSet* d) { d->Last(); }, 5, true, true, false},
        MoveCase{"MoveByPastTheEnd", 1, [](TDataSet* d) { d->MoveBy(10); }, 5, true, true, false},
        MoveCase{"MoveByBack", 3, [](TDataSet* d) { d->MoveBy(-2); }, 2, true, false, false},
        MoveCase{"MoveByZero", 3, [](TDataSet* d) { d->MoveBy(0); }, 4, false, false, false},
        MoveCase{"MoveToSameRow", 2, [](TDataSet* d) { d->MoveTo(2); }, 3, false, false, false},
        MoveCase{"MoveToBeyond", 2, [](TDataSet* d) { d->MoveTo(99); }, 5, true, true, false},
        MoveCase{"MoveToNegative", 2, [](TDataSet* d) { d->MoveTo(-3); }, 1, true, false, true},
        MoveCase{"LocateOtherRow", 0, [](TDataSet* d) { d->Locate("STATUS", "D"); }, 4, true, false,
                 false},
        MoveCase{"LocateCurrentRow", 3, [](TDataSet* d) { d->Locate("STATUS", "D"); }, 4, false,
                 false, false},
        MoveCase{"LocateMissing", 1, [](TDataSet* d) { d->Locate("STATUS", "Q"); }, 2, false, false,
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ItemsDataSet, WhileNotEofNext_VisitsEveryRowOnce) {
  Load(4);
  std::vector<std::string> seen;
  for (cds->First(); !cds->Eof(); cds->Next()) seen.push_back(status->AsString());
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "B", "C", "D"}));
}

TEST_F(ItemsDataSet, Locate_ComparesStoredTextOfNumbersAndDates) {
  Load(3);
  EXPECT_TRUE(cds->Locate("QTSOLIPROD", "2469"));
  EXPECT_EQ(cds->RecNo(), 2);
  EXPECT_TRUE(cds->Locate("DTPROGENTR", "07/03/2024"));
  EXPECT_EQ(cds->RecNo(), 3);
  EXPECT_FALSE(cds->Locate("QTSOLIPROD", "2.469,000"));
  EXPECT_EQ(cds->RecNo(), 3);
}

TEST_F(ItemsDataSet, FieldByName_OfMissingField_RaisesPortugueseError) {
  try {
    cds->FieldByName("NMPRODUTO");
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Campo 'NMPRODUTO' não encontrado.");
  }
  EXPECT_THROW(cds->Locate("NMPRODUTO", "x"), EDatabaseError);
  EXPECT_EQ(cds->FieldByName("nrsolicmp"), number);
}

TEST_F(ItemsDataSet, RowScope_ReadsAnotherRowWithoutEvents_AndRestoresTheCursorRow) {
  Load(3);
  {
    TDataSet::TRowScope paint(cds, 2);
    EXPECT_EQ(status->AsString(), "C");
    {
      TDataSet::TRowScope inner(cds, 1);
      EXPECT_EQ(status->AsString(), "B");
    }
    EXPECT_EQ(status->AsString(), "C");
    TDataSet::TRowScope beyond(cds, 7);
    EXPECT_TRUE(status->IsNull());
  }
  EXPECT_EQ(status->AsString(), "A");
  EXPECT_EQ(cds->RecNo(), 1);
  EXPECT_TRUE(events.empty());
}

// ---- Field texts ----

TEST_F(ItemsDataSet, FieldTexts_FollowTypeFormatAndMask) {
  cds->SetData(MakePacket(kItemFields, {{"a", "12", 1234.5, 45356.0},
                                        {std::monostate{}, std::monostate{}, 0.0005,
                                         EncodeDateTime({2024, 3, 5, 14, 7, 9})}}));
  quantity->DisplayFormat = "###,##0.000";
  number->SetEditMask("!9999999999;0; ");
  EXPECT_EQ(quantity->AsString(), "1234,5");
  EXPECT_EQ(quantity->DisplayText(), "1.234,500");
  EXPECT_EQ(quantity->Text(), "1234,5");
  EXPECT_EQ(number->DisplayText(), "        12");
  EXPECT_EQ(number->Text(), "12");  // the mask shapes the display only
  EXPECT_EQ(delivery->DisplayText(), "05/03/2024");
  cds->Next();
  EXPECT_EQ(quantity->DisplayText(), "0,001");
  EXPECT_EQ(delivery->AsString(), "05/03/2024 14:07:09");
  EXPECT_EQ(number->DisplayText(), "");
  EXPECT_EQ(status->DisplayText(), "");
  quantity->DisplayFormat.clear();
  EXPECT_EQ(quantity->DisplayText(), "0,0005");
}

TEST_F(ItemsDataSet, GetTextHandler_ReceivesEmptyTextAndFlag_EvenForNull) {
  cds->SetData(MakePacket(kItemFields, {{"A", "1", 1.0, 1.0}, {std::monostate{}, "2", 2.0, 2.0}}));
  std::vector<std::string> calls;
  status->OnGetText = [&](TField* sender, std::string& text, bool displayText) {
    calls.push_back(text + (displayText ? "display" : "edit"));
    if (sender->AsString() == "A") text = "Aguardando Aprovação";
  };
  EXPECT_EQ(status->DisplayText(), "Aguardando Aprovação");
  EXPECT_EQ(status->Text(), "Aguardando Aprovação");
  cds->Next();
  EXPECT_EQ(status->DisplayText(), "");
  EXPECT_EQ(calls, (std::vector<std::string>{"display", "edit", "display"}));
}

TEST_F(ItemsDataSet, AsFloatOfStringField_ParsesCommaDecimal_AndRejectsText) {
  cds->SetData(MakePacket(kItemFields, {{"A", "12,5", 0.0, 0.0}, {"B", "abc", 0.0, 0.0}}));
  EXPECT_DOUBLE_EQ(number->AsFloat(), 12.5);
  cds->Next();
  EXPECT_THROW(number->AsFloat(), EDatabaseError);
  EXPECT_THROW(number->AsDateTime(), EDatabaseError);
}

TEST_F(ItemsDataSet, DisplayWidth_DefaultsToStringSizeElseTen) {
  EXPECT_EQ(number->DisplayWidth(), 10);
  EXPECT_EQ(status->DisplayWidth(), 1);
  EXPECT_EQ(quantity->DisplayWidth(), 10);
  status->SetDisplayWidth(15);
  EXPECT_EQ(status->DisplayWidth(), 15);
  EXPECT_EQ(cds->AddField("qryProdutoCDARVPROD", "CDARVPROD", TFieldType::ftString)->DisplayWidth(),
            10);
}

// ---- Data sources, views and ownership ----

TEST_F(ItemsDataSet, DataSources_AllSeeStateChanges_UntilDetached) {
  auto* second = owner.Create<TDataSource>("dtsOutra");
  second->SetDataSet(cds);
  second->OnStateChange = [this](TDataSource* s) {
    events.push_back(std::string("Second:") + StateName(s->State()));
  };
  cds->SetData(ItemRows(0));
  EXPECT_EQ(events, (Events{"State:browse", "Second:browse", "AfterOpen"}));
  events.clear();
  second->SetDataSet(nullptr);
  EXPECT_EQ(second->State(), TDataSetState::dsInactive);
  cds->Close();
  EXPECT_EQ(events, (Events{"State:closed"}));
}

TEST_F(ItemsDataSet, StateHandlerThatFreesAnotherSource_DoesNotCallIt) {
  auto* second = owner.Create<TDataSource>("dtsOutra");
  second->SetDataSet(cds);
  second->OnStateChange = [this](TDataSource*) { events.push_back("Second"); };
  source->OnStateChange = [this, second](TDataSource*) { owner.FreeComponent(second); };
  cds->SetData(ItemRows(1));
  EXPECT_EQ(events, (Events{"AfterOpen", "AfterScroll:1"}));
}

TEST_F(ItemsDataSet, FreedDataSet_LeavesItsSourceWithoutDataSet) {
  Load(2);
  owner.FreeComponent(cds);
  EXPECT_EQ(source->DataSet(), nullptr);
  EXPECT_EQ(source->State(), TDataSetState::dsInactive);
  EXPECT_EQ(owner.FindComponent("cdsItensGridSTATUS"), nullptr);
}

TEST_F(ItemsDataSet, FreedSource_IsNoLongerNotified) {
  owner.FreeComponent(source);
  cds->SetData(ItemRows(1));  // would reach the freed source under the sanitizer
  EXPECT_EQ(events, (Events{"AfterOpen", "AfterScroll:1"}));
}

TEST_F(ItemsDataSet, FieldFreedAlone_LeavesTheOthersReadingTheirOwnColumns) {
  Load(2);
  cds->FreeComponent(number);
  ASSERT_EQ(cds->Fields().size(), 3u);
  EXPECT_EQ(quantity->Index(), 1);
  EXPECT_EQ(quantity->AsString(), "1234,5");
  EXPECT_EQ(delivery->AsString(), "05/03/2024");
}

class Recorder : public IModelObserver {
 public:
  void ModelChanged(TComponent* component, TChange change) override {
    changes.push_back({component, change});
  }
  std::vector<std::pair<TComponent*, TChange>> changes;
};

TEST_F(ItemsDataSet, Views_AreToldOfRowsCursorAndMaskChanges) {
  Recorder recorder;
  AddModelObserver(&recorder);
  cds->SetData(ItemRows(2));
  cds->Next();
  cds->Next();  // stays on the last row: nothing to redraw
  number->SetEditMask("0000000000;0; ");
  cds->Close();
  RemoveModelObserver(&recorder);
  using Change = std::pair<TComponent*, TChange>;
  EXPECT_EQ(recorder.changes, (std::vector<Change>{{cds, TChange::Rows},
                                                   {cds, TChange::Cursor},
                                                   {number, TChange::Property},
                                                   {cds, TChange::Rows}}));
}

TEST(ModelObservers, ObserverRemovedByAnotherDuringNotification_IsNotCalled) {
  Recorder second;
  struct Remover : IModelObserver {
    IModelObserver* victim = nullptr;
    void ModelChanged(TComponent*, TChange) override { RemoveModelObserver(victim); }
  } first;
  first.victim = &second;
  AddModelObserver(&first);
  AddModelObserver(&second);
  TComponent component(nullptr, "x");
  NotifyModel(&component, TChange::Property);
  RemoveModelObserver(&first);
  EXPECT_TRUE(second.changes.empty());
}

TEST(DataSetMemory, ClosingReleasesTheRows) {
  TClientDataSet cds(nullptr, "cds");
  cds.AddField("cdsSTATUS", "STATUS", TFieldType::ftString, 1);
  const size_t empty = cds.MemoryUsage();
  cds.SetData(ItemRows(1000));
  EXPECT_GT(cds.MemoryUsage(), empty + 1000 * (1 + sizeof(uint32_t)));
  cds.Close();
  EXPECT_EQ(cds.MemoryUsage(), empty);
}

}  // namespace
