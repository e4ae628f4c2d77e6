#include "framework/host/services.h"

#include "framework/db/local_query.h"
#include "framework/host/config.h"
#include "framework/platform.h"

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

void Procura(TDataSet* dataSet) {
  IPlatform* platform = PlatformOrNull();
  if (!platform || !dataSet || !dataSet->Active()) return;
  std::string fieldName, value;
  if (!platform->SearchRecord(dataSet, fieldName, value)) return;
  TField* field = dataSet->FieldByName(fieldName);
  const int count = dataSet->RecordCount();
  for (int row = 0; row < count; ++row) {
    std::string shown;
    {
      TDataSet::TRowScope scope(dataSet, static_cast<size_t>(row));
      shown = field->DisplayText();
    }
    if (shown == value) {
      dataSet->MoveTo(row);
      return;
    }
  }
  platform->ShowMessage("Registro não encontrado.");
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
