// The Brazilian collation and a data set's own order (its index fields).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/data/collation.h"
#include "framework/data/dataset.h"
#include "protocol/datetime.h"

namespace {

using namespace fw;
using Texts = std::vector<std::string>;

Texts Collated(Texts texts) {
  std::stable_sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
    return CollateTexts(a, b) < 0;
  });
  return texts;
}

TEST(Collation, LettersFirstWithoutAccentsOrCase_ThenAccents_ThenCase) {
  // Each list is in the order a dictionary gives; the sort starts from its reverse.
  const std::vector<Texts> orders = {
      {"ação", "acordo", "Álvaro", "alvo", "banana", "Brasil", "çapa", "cedo"},
      {"cao", "cão", "capa"},
      {"e", "é", "ê", "f"},
      {"maria", "Maria", "MARIA", "mariana"},
      {"Ana Paula", "Ana-Maria", "Anabela"},
      {"  ", "0001", "0010", "9", "a"},
      {"Nº 10", "No 11", "Nota"},
      {"", "a"},
      {"São Paulo", "Sao Paulo X", "Sapucaia"},
      {"Zé", "zebra"},
      {"aerado", "Ærø", "aeroporto"},
  };
  for (const Texts& expected : orders) {
    Texts reversed(expected.rbegin(), expected.rend());
    EXPECT_EQ(expected, Collated(reversed));
  }
  EXPECT_EQ(0, CollateTexts("Ação", "Ação"));
  EXPECT_LT(CollateTexts("acao", "ação"), 0) << "plain before accented";
  EXPECT_GT(CollateTexts("Acao", "acao"), 0) << "upper after lower";
  EXPECT_GT(CollateTexts("ação", "Acao"), 0) << "the accent decides before the case";
}

TEST(Collation, BytesThatAreNotUtf8_SortWithoutFailing) {
  const std::string broken = "caf\xE9";  // Latin-1, not UTF-8
  EXPECT_GT(CollateTexts(broken, "cafe"), 0);
  EXPECT_LT(CollateTexts("cafe", broken), 0);
  EXPECT_EQ(0, CollateTexts(broken, broken));
}

const std::vector<TPacketField> kFields = {{"NOME", TFieldType::ftString, 30},
                                           {"STATUS", TFieldType::ftString, 1},
                                           {"DATA", TFieldType::ftDateTime, 0},
                                           {"VALOR", TFieldType::ftFloat, 0}};

struct TRow {
  const char* Name;  // nullptr: null
  const char* Status;
  double Date;  // < 0: null
  double Value;
};

TDataPacket Packet(const std::vector<TRow>& rows) {
  TDataPacket packet(kFields);
  for (const TRow& row : rows) {
    auto& columns = packet.Columns();
    if (row.Name)
      columns[0].AppendString(row.Name);
    else
      columns[0].AppendNull();
    columns[1].AppendString(row.Status);
    if (row.Date < 0)
      columns[2].AppendNull();
    else
      columns[2].AppendNumber(row.Date);
    columns[3].AppendNumber(row.Value);
  }
  return packet;
}

// The rows as the service sends them; the comments give each row's name for the orders below.
const std::vector<TRow> kRows = {
    {"Évora", "A", EncodeDateTime({2024, 3, 5}), 10},      // 1
    {"banana", "C", EncodeDateTime({2023, 12, 31}), 2},    // 2
    {nullptr, "B", -1, 10},                                // 3
    {"Abacate", "A", EncodeDateTime({2024, 1, 20}), 300},  // 4
    {"evora", "C", EncodeDateTime({2024, 3, 5}), -5},      // 5
};

class IndexedDataSet : public ::testing::Test {
 protected:
  IndexedDataSet() {
    cds = owner.Create<TClientDataSet>("cdsDados");
    name = cds->AddField("cdsDadosNOME", "NOME", TFieldType::ftString, 30);
    status = cds->AddField("cdsDadosSTATUS", "STATUS", TFieldType::ftString, 1);
    date = cds->AddField("cdsDadosDATA", "DATA", TFieldType::ftDateTime);
    value = cds->AddField("cdsDadosVALOR", "VALOR", TFieldType::ftFloat);
    // A status shows by its name: "A" is "Urgente", "B" "Normal", "C" "Baixa".
    status->OnGetText = [this](TField*, std::string& text, bool) {
      const std::string code = status->AsString();
      text = code == "A" ? "Urgente" : code == "B" ? "Normal" : "Baixa";
    };
    cds->AfterScroll = [this](TDataSet* d) { scrolls.push_back(d->RecNo()); };
    cds->SetData(Packet(kRows));
    scrolls.clear();
  }

  // The names down the data set's order, walked as a grid paints them.
  Texts Names() const {
    Texts names;
    for (int place = 0; place < cds->RecordCount(); ++place) {
      TDataSet::TRowScope scope(cds, static_cast<size_t>(place));
      names.push_back(name->IsNull() ? "(nulo)" : name->AsString());
    }
    return names;
  }

  TComponent owner{nullptr, "frmTeste"};
  TClientDataSet* cds;
  TField *name, *status, *date, *value;
  std::vector<int> scrolls;
};

TEST_F(IndexedDataSet, EachFieldType_SortsAsAPersonExpects_NullsFirst_TiesInTheServicesOrder) {
  struct TCase {
    std::vector<TIndexField> Index;
    Texts Expected;
  };
  const std::vector<TCase> cases = {
      {{{"NOME"}}, {"(nulo)", "Abacate", "banana", "evora", "Évora"}},
      {{{"NOME", true}}, {"Évora", "evora", "banana", "Abacate", "(nulo)"}},
      {{{"DATA"}}, {"(nulo)", "banana", "Abacate", "Évora", "evora"}},
      {{{"DATA", true}}, {"Évora", "evora", "Abacate", "banana", "(nulo)"}},
      {{{"VALOR"}}, {"evora", "banana", "Évora", "(nulo)", "Abacate"}},
      // By the text shown: Baixa, Normal, Urgente; not by the codes A, B, C.
      {{{"STATUS"}}, {"banana", "evora", "(nulo)", "Évora", "Abacate"}},
      {{{"STATUS"}, {"VALOR", true}}, {"banana", "evora", "(nulo)", "Abacate", "Évora"}},
      {{}, {"Évora", "banana", "(nulo)", "Abacate", "evora"}},
  };
  for (const TCase& c : cases) {
    cds->SetIndexFields(c.Index);
    EXPECT_EQ(c.Expected, Names()) << (c.Index.empty() ? "service" : c.Index[0].FieldName);
  }
  EXPECT_EQ(std::vector<int>{}, scrolls) << "sorting raises no AfterScroll";
}

TEST_F(IndexedDataSet, Sorting_KeepsTheCurrentRecord_AndTheMovesFollowTheOrder) {
  cds->MoveTo(3);  // Abacate
  scrolls.clear();
  cds->SetIndexFields({{"NOME", true}});
  EXPECT_EQ("Abacate", name->AsString());
  EXPECT_EQ(4, cds->RecNo()) << "its place in the new order";
  cds->Next();
  EXPECT_TRUE(name->IsNull()) << "the next row of the order, the one without a name";
  cds->First();
  EXPECT_EQ("Évora", name->AsString());
  ASSERT_TRUE(cds->Locate("NOME", "banana"));
  EXPECT_EQ(3, cds->RecNo());
  EXPECT_EQ(std::vector<int>({5, 1, 3}), scrolls);

  // Back to the service's order: still on banana.
  scrolls.clear();
  cds->SetIndexFields({});
  EXPECT_EQ("banana", name->AsString());
  EXPECT_EQ(2, cds->RecNo());
  EXPECT_EQ(std::vector<int>{}, scrolls);
}

TEST_F(IndexedDataSet, AReload_KeepsTheOrder_ItsFirstRowCurrent) {
  cds->SetIndexFields({{"DATA", true}});
  cds->MoveTo(2);
  scrolls.clear();
  std::string firstReadByAfterScroll;
  cds->AfterScroll = [&](TDataSet*) { firstReadByAfterScroll = name->AsString(); };
  cds->SetData(Packet({kRows[1], kRows[3], kRows[0]}));
  EXPECT_EQ((std::vector<TIndexField>{{"DATA", true}}), cds->IndexFields());
  EXPECT_EQ((Texts{"Évora", "Abacate", "banana"}), Names());
  EXPECT_EQ(1, cds->RecNo());
  EXPECT_EQ("Évora", firstReadByAfterScroll) << "the handler reads the first sorted row";
}

TEST_F(IndexedDataSet, AnUnknownField_IsRefusedAndChangesNothing_AClosedDataSetKeepsTheIndex) {
  cds->SetIndexFields({{"NOME"}});
  EXPECT_THROW(cds->SetIndexFields({{"NAOEXISTE"}}), EDatabaseError);
  EXPECT_EQ((std::vector<TIndexField>{{"NOME"}}), cds->IndexFields());
  EXPECT_EQ("(nulo)", Names().front());

  cds->Close();
  cds->SetIndexFields({{"valor", true}, {"VALOR"}});
  EXPECT_EQ((std::vector<TIndexField>{{"VALOR", true}}), cds->IndexFields())
      << "by the field's own name, once";
  cds->SetData(Packet(kRows));
  EXPECT_EQ("Abacate", Names().front());
}

}  // namespace
