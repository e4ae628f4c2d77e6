#include "framework/host/services.h"

#include "framework/db/local_query.h"
#include "framework/host/config.h"
#include "framework/platform.h"

#include <algorithm>
#include <cctype>
#include "framework/ui/dbcontrols.h"
#include "protocol/text.h"

namespace fw {

namespace {
IPlatform* PlatformOrNull() {
  return Application ? Application->Platform() : nullptr;
}

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  const auto end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}
}  // namespace

std::string TMessages::Msg(const std::string& key) const {
  for (const auto& line : Items) {
    const auto bar = line.find('|');
    const std::string entryKey = bar == std::string::npos ? line : line.substr(0, bar);
    if (entryKey == key) return bar == std::string::npos ? std::string() : line.substr(bar + 1);
  }
  return {};
}

void MensErro(const std::string& text, bool /*abort*/) {
  if (IPlatform* platform = PlatformOrNull()) platform->ShowError(text);
  throw EAbort();
}

bool EmptyString(const std::string& text) {
  return Trim(text).empty();
}

TDataPacket CheckResultServ(TRemoteResult result, bool /*raise*/, int /*kind*/) {
  if (result.Refused) {
    MensErro(result.RefusalMessage.empty() ? "O servidor recusou a consulta."
                                           : result.RefusalMessage);
  }
  return std::move(result.Data);
}

void ActiveShowAvi(TForm* owner, int animation, const std::string& caption) {
  if (IPlatform* platform = PlatformOrNull()) platform->ShowBusy(owner, animation, caption);
}

void DeactiveShowAvi() {
  if (IPlatform* platform = PlatformOrNull()) platform->HideBusy();
}

std::string BuildSelection(const std::vector<std::string>& keys) {
  std::string selection;
  for (const auto& key : keys) {
    if (!selection.empty()) selection += ',';
    selection += '\'';
    for (char c : key) {
      if (c == '\'') selection += '\'';
      selection += c;
    }
    selection += '\'';
  }
  return selection;
}

std::vector<std::string> ParseSelection(const std::string& selection) {
  std::vector<std::string> keys;
  size_t pos = 0;
  while (pos < selection.size()) {
    if (selection[pos] != '\'') return {};
    std::string key;
    ++pos;
    bool closed = false;
    while (pos < selection.size()) {
      if (selection[pos] == '\'') {
        if (pos + 1 < selection.size() && selection[pos + 1] == '\'') {
          key += '\'';
          pos += 2;
          continue;
        }
        ++pos;
        closed = true;
        break;
      }
      key += selection[pos++];
    }
    if (!closed) return {};
    keys.push_back(std::move(key));
    if (pos == selection.size()) break;
    if (selection[pos] != ',') return {};
    if (++pos == selection.size()) return {};
  }
  return keys;
}

void PesquisaLista(TDataSource* source, const std::string& keyField, const std::string& title,
                   bool /*single*/, std::string& selection) {
  IPlatform* platform = PlatformOrNull();
  TDataSet* rows = source ? source->DataSet() : nullptr;
  if (!platform || !rows) return;
  std::vector<std::string> marked = ParseSelection(selection);
  if (platform->PickList(rows, keyField, title, marked)) selection = BuildSelection(marked);
}

namespace {

const TDBGrid* GridShowing(TDataSet* dataSet) {
  if (Application)
    if (auto* focused = dynamic_cast<const TDBGrid*>(Application->FocusedControl()))
      if (focused->DataSet() == dataSet) return focused;
  TComponent* form = dataSet->Owner();
  while (form && !dynamic_cast<TForm*>(form)) form = form->Owner();
  if (!form) return nullptr;
  std::vector<const TComponent*> pending = {form};
  while (!pending.empty()) {
    const TComponent* component = pending.back();
    pending.pop_back();
    if (auto* grid = dynamic_cast<const TDBGrid*>(component); grid && grid->DataSet() == dataSet)
      return grid;
    // Owned components in creation order: pushed in reverse so that the first comes out first.
    const auto& owned = component->Components();
    for (auto it = owned.rbegin(); it != owned.rend(); ++it) pending.push_back(*it);
  }
  return nullptr;
}

// The letters of U+00C0..U+00FF without their accents, in lower case; '\0' where the character is
// not a letter with a plain counterpart (the multiplication and division signs).
constexpr char kLatin1Base[] =
    "aaaaaaaceeeeiiiidnooooo\0ouuuuyts"   // U+00C0..U+00DF (Æ and ß are handled apart)
    "aaaaaaaceeeeiiiidnooooo\0ouuuuyty";  // U+00E0..U+00FF

}  // namespace

std::vector<TSearchColumn> SearchColumns(TDataSet* dataSet, std::string* selected) {
  std::vector<TSearchColumn> columns;
  if (!dataSet) return columns;
  if (const TDBGrid* grid = GridShowing(dataSet)) {
    for (int column = 0; column < grid->ColumnCount(); ++column)
      if (grid->ColumnField(column))
        columns.push_back(
            {grid->Columns[static_cast<size_t>(column)].FieldName, grid->ColumnTitle(column)});
    if (selected) {
      const TField* field = grid->SelectedField();
      *selected = field ? field->FieldName() : std::string();
    }
  }
  if (columns.empty()) {
    for (const TField* field : dataSet->Fields())
      if (field->Visible) columns.push_back({field->FieldName(), field->DisplayLabel()});
  }
  if (selected && (selected->empty() || !dataSet->FindField(*selected)))
    *selected = columns.empty() ? std::string() : columns.front().FieldName;
  return columns;
}

std::string SearchKey(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    char32_t code = 0;
    if (!Utf8Next(text, pos, code)) {
      key += text[start];  // not a character: kept byte for byte
    } else if (code < 0x80) {
      key += static_cast<char>(code >= 'A' && code <= 'Z' ? code + ('a' - 'A') : code);
    } else if (code == 0xC6 || code == 0xE6) {
      key += "ae";
    } else if (code == 0xDF) {
      key += "ss";
    } else if (code == 0x152 || code == 0x153) {
      key += "oe";
    } else if (code == 0xAA) {
      key += 'a';  // ª
    } else if (code == 0xBA) {
      key += 'o';  // º, as in "Nº"
    } else if (code >= 0xC0 && code <= 0xFF && kLatin1Base[code - 0xC0] != '\0') {
      key += kLatin1Base[code - 0xC0];
    } else {
      key.append(text.substr(start, pos - start));  // as it was written
    }
  }
  return key;
}

namespace {
// `wanted` as compared: as typed for Exact, else its search key without surrounding blanks.
std::string Wanted(std::string_view wanted, TSearchMatch match) {
  return match == TSearchMatch::Exact ? std::string(wanted) : SearchKey(Trim(std::string(wanted)));
}

bool Matches(std::string_view shown, const std::string& want, TSearchMatch match) {
  switch (match) {
    case TSearchMatch::Exact:
      return shown == want;
    case TSearchMatch::StartsWith:
      return !want.empty() && SearchKey(shown).compare(0, want.size(), want) == 0;
    case TSearchMatch::Contains:
      return !want.empty() && SearchKey(shown).find(want) != std::string::npos;
  }
  return false;
}
}  // namespace

bool SearchMatches(std::string_view shown, std::string_view wanted, TSearchMatch match) {
  return Matches(shown, Wanted(wanted, match), match);
}

int FindRecord(TDataSet* dataSet, const TField* field, std::string_view wanted,
               TSearchMatch match) {
  if (!dataSet || !field || field->DataSet() != dataSet) return -1;
  const int count = dataSet->RecordCount();
  const std::string want = Wanted(wanted, match);
  if (count == 0 || (want.empty() && match != TSearchMatch::Exact)) return -1;
  // RecNo is 1-based: as a 0-based row it is the row after the cursor.
  const int first = match == TSearchMatch::Exact ? 0 : dataSet->RecNo() % count;
  for (int i = 0; i < count; ++i) {
    const int row = (first + i) % count;
    std::string shown;
    {
      TDataSet::TRowScope scope(dataSet, static_cast<size_t>(row));
      shown = field->DisplayText();
    }
    if (Matches(shown, want, match)) return row;
  }
  return -1;
}

void Procura(TDataSet* dataSet) {
  IPlatform* platform = PlatformOrNull();
  if (!platform || !dataSet || !dataSet->Active()) return;
  TSearchRequest request;
  request.Columns = SearchColumns(dataSet, &request.FieldName);
  if (!platform->SearchRecord(dataSet, request)) return;
  TField* field = dataSet->FieldByName(request.FieldName);
  if (request.Match != TSearchMatch::Exact && EmptyString(request.Value)) return;
  const int row = FindRecord(dataSet, field, request.Value, request.Match);
  if (row < 0) {
    platform->ShowMessage("Registro não encontrado.");
    return;
  }
  dataSet->MoveTo(row);
}

void Ordena(TDBGrid* grid) {
  IPlatform* platform = PlatformOrNull();
  TDataSet* dataSet = grid ? grid->DataSet() : nullptr;
  if (!platform || !dataSet) return;
  TSortRequest request;
  request.DataSet = dataSet;
  for (int column = 0; column < grid->ColumnCount(); ++column)
    if (grid->ColumnField(column))
      request.Columns.push_back(
          {grid->Columns[static_cast<size_t>(column)].FieldName, grid->ColumnTitle(column)});
  request.Fields = dataSet->IndexFields();
  if (!platform->ChooseSort(request)) return;
  if (request.Fields.size() > kMaxSortFields) request.Fields.resize(kMaxSortFields);
  dataSet->SetIndexFields(std::move(request.Fields));
}

void ValidEx(TDataSource* source, int /*pictureKind*/, std::string& code,
             const std::vector<std::string>& /*options*/, const std::string& /*extra*/,
             bool /*raise*/) {
  TDataSet* rows = source ? source->DataSet() : nullptr;
  const std::string wanted = Trim(code);
  if (rows && !rows->Active()) {
    // The look-up rows of a local query are read when first needed.
    if (auto* query = dynamic_cast<TLocalQuery*>(rows->Owner())) query->Open();
  }
  if (rows && rows->Active() && !rows->Fields().empty()) {
    const TField* keyField = rows->Fields().front();
    const int count = rows->RecordCount();
    for (int row = 0; row < count; ++row) {
      TDataSet::TRowScope scope(rows, static_cast<size_t>(row));
      if (Trim(keyField->AsString()) == wanted) {
        code = keyField->AsString();
        return;
      }
    }
  }
  MensErro("Produto não cadastrado: " + wanted + ".");
}

std::vector<std::string> Dados_Produto(const std::string& code) {
  TDataPacket found = TLocalDatabase::Instance().Run(
      "SELECT NMPRODUTO, CDPRODUTO FROM PRODUTO WHERE CDARVPROD = ?", {Trim(code)},
      {{"NMPRODUTO", TFieldType::ftString, 0}, {"CDPRODUTO", TFieldType::ftString, 0}});
  if (found.RowCount() == 0) MensErro("Produto não cadastrado: " + Trim(code) + ".");
  return {std::string(found.Columns()[0].GetString(0)),
          std::string(found.Columns()[1].GetString(0))};
}

std::string InvalidDateMessage(const std::string& text) {
  const std::string whole = "Data inválida: " + text + ".";
  // The edit's shape, dd/mm/yyyy, blanks where nothing was typed (the end may be cut off).
  if (text.size() > 10) return whole;
  std::string shown = text + std::string(10 - text.size(), ' ');
  for (size_t i = 0; i < shown.size(); ++i) {
    const char c = shown[i];
    const bool slashPlace = i == 2 || i == 5;
    const bool fits = slashPlace
                          ? c == '/' || c == ' '
                          : std::isdigit(static_cast<unsigned char>(c)) || c == ' ' || c == '_';
    if (!fits) return whole;
    shown[i] = slashPlace ? '/' : c == ' ' ? '_' : c;
  }
  struct TPart {
    const char* Name;
    size_t From, Length;
  };
  static constexpr TPart kParts[] = {{"o dia", 0, 2}, {"o mês", 3, 2}, {"o ano", 6, 4}};
  std::vector<std::string> missing;
  bool partly = false;
  for (const TPart& part : kParts) {
    const std::string digits = shown.substr(part.From, part.Length);
    const auto typed = std::count_if(digits.begin(), digits.end(), [](char c) { return c != '_'; });
    if (typed == static_cast<long>(part.Length)) continue;
    partly = partly || typed > 0;
    missing.push_back(part.Name);
  }
  if (missing.empty()) return whole;
  std::string list = missing.front();
  for (size_t i = 1; i < missing.size(); ++i)
    list += (i + 1 == missing.size() ? " e " : ", ") + missing[i];
  const char* lead = partly ? "Falta completar " : missing.size() > 1 ? "Faltam " : "Falta ";
  return "Data incompleta: " + shown + ". " + lead + list + ".";
}

std::string DBPict(int /*pictureKind*/) {
  return HostConfig().ProductMask;
}

std::string WebURL() {
  return HostConfig().ServerHost;
}

int WebPort() {
  return HostConfig().ServerPort;
}

void LoadBPL(const std::string& moduleName) {
  IPlatform* platform = PlatformOrNull();
  if (!platform) return;
  if (!platform->LoadModule(moduleName))
    platform->ShowMessage("O módulo " + moduleName + " não está instalado.");
}

}  // namespace fw
