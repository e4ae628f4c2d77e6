#include "framework/testing/fake_platform.h"

#include <algorithm>

namespace fw {

namespace {
const char* CursorName(TCursor cursor) {
  switch (cursor) {
    case TCursor::crHourGlass:
      return "hourglass";
    default:
      return "default";
  }
}
}  // namespace

void TFakePlatform::Clear() {
  Events.clear();
  Errors.clear();
  Messages.clear();
  BusyCaptions.clear();
  BusyHides = 0;
  PickerTitles.clear();
  Searches = 0;
  Lookups = 0;
  ModulesLoaded.clear();
  Cursors.clear();
  Repaints = 0;
}

void TFakePlatform::Log(std::string line) {
  if (OnEvent) OnEvent(line);
  Events.push_back(std::move(line));
}

void TFakePlatform::ShowForm(TForm* form) {
  Log("form shown: " + form->Caption());
}

void TFakePlatform::ShowModal(TForm* form) {
  Log("form shown modally: " + form->Caption());
  if (OnModal) OnModal(form);
}

void TFakePlatform::HideForm(TForm* form) {
  Log("form closed: " + form->Caption());
}

void TFakePlatform::Repaint(TForm*) {
  ++Repaints;
}

void TFakePlatform::ShowError(const std::string& text) {
  Errors.push_back(text);
  Messages.push_back(text);
  Log("message: " + text);
}

void TFakePlatform::ShowMessage(const std::string& text) {
  Messages.push_back(text);
  Log("message: " + text);
}

void TFakePlatform::ShowBusy(TForm*, int, const std::string& caption) {
  BusyCaptions.push_back(caption);
  BusyVisible = true;
  Log("busy shown: \"" + caption + "\"");
}

void TFakePlatform::HideBusy() {
  ++BusyHides;
  BusyVisible = false;
  Log("busy hidden");
}

void TFakePlatform::SetCursor(TCursor cursor) {
  Cursors.push_back(cursor);
  Log(std::string("cursor: ") + CursorName(cursor));
}

bool TFakePlatform::PickList(TDataSet*, const std::string& keyField, const std::string& title,
                             std::vector<std::string>& marked) {
  PickerTitles.push_back(title);
  Log("picker opened: " + title + " (" + keyField + ")");
  if (PickAnswers.empty() || !PickAnswers.front()) {
    if (!PickAnswers.empty()) PickAnswers.pop_front();
    Log("picker cancelled");
    return false;
  }
  marked = *PickAnswers.front();
  PickAnswers.pop_front();
  std::string keys;
  for (const auto& key : marked) keys += (keys.empty() ? "" : " ") + key;
  Log("picker confirmed: " + keys);
  return true;
}

bool TFakePlatform::SearchRecord(TDataSet* dataSet, TSearchRequest& request) {
  ++Searches;
  SearchColumnsOffered = request.Columns;
  Log("search opened: " + dataSet->Name());
  if (SearchAnswers.empty() || !SearchAnswers.front()) {
    if (!SearchAnswers.empty()) SearchAnswers.pop_front();
    Log("search cancelled");
    return false;
  }
  request.FieldName = SearchAnswers.front()->FieldName;
  request.Value = SearchAnswers.front()->Value;
  request.Match = SearchAnswers.front()->Match;
  SearchAnswers.pop_front();
  const char* how = request.Match == TSearchMatch::Exact        ? " = "
                    : request.Match == TSearchMatch::StartsWith ? " começa com "
                                                                : " contém ";
  Log("search: " + request.FieldName + how + request.Value);
  return true;
}

bool TFakePlatform::LookupProduct(TDataSet* rows, const std::string& codeField, const std::string&,
                                  int& row) {
  ++Lookups;
  Log("lookup opened");
  if (LookupAnswers.empty() || !LookupAnswers.front()) {
    if (!LookupAnswers.empty()) LookupAnswers.pop_front();
    Log("lookup cancelled");
    return false;
  }
  const std::string code = *LookupAnswers.front();
  LookupAnswers.pop_front();
  // The user sees the codes as the code field shows them; answer by the first field too, so that
  // a script can name the product by the code a user types.
  TField* field = rows->FindField(codeField);
  TField* first = rows->Fields().empty() ? nullptr : rows->Fields().front();
  for (int i = 0; i < rows->RecordCount(); ++i) {
    TDataSet::TRowScope scope(rows, static_cast<size_t>(i));
    if ((field && field->AsString() == code) || (first && first->AsString() == code)) {
      row = i;
      Log("lookup picked: " + code);
      return true;
    }
  }
  Log("lookup: no product " + code);
  return false;
}

bool TFakePlatform::ChooseSort(TSortRequest& request) {
  SortColumnsOffered = request.Columns;
  Log("sort opened: " + (request.DataSet ? request.DataSet->Name() : std::string()));
  if (SortAnswers.empty() || !SortAnswers.front()) {
    if (!SortAnswers.empty()) SortAnswers.pop_front();
    Log("sort cancelled");
    return false;
  }
  request.Fields = *SortAnswers.front();
  SortAnswers.pop_front();
  std::string fields;
  for (const TIndexField& field : request.Fields)
    fields += (fields.empty() ? "" : ", ") + field.FieldName + (field.Descending ? " desc" : "");
  Log("sort: " + (fields.empty() ? std::string("the service's order") : fields));
  return true;
}

bool TFakePlatform::LoadModule(const std::string& name) {
  ModulesLoaded.push_back(name);
  Log("module load: " + name);
  return InstalledModules.count(name) > 0;
}

}  // namespace fw
