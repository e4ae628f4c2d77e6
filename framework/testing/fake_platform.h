// A scripted, recording front end for the tests and the screen driver.
//
// Records every message, busy indicator show and hide (with its caption), picker, search and
// look-up opened, module load, form shown and closed, and cursor change, in one event log and in
// typed lists. Answers pickers, searches and look-ups from queues; an unanswered dialog is
// cancelled. A modal form runs OnModal (the driver reads its script there); without it the form
// stays open and ShowModal returns at once.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "framework/platform.h"

namespace fw {

class TFakePlatform : public IPlatform {
 public:
  struct TSearchAnswer {
    std::string FieldName;
    std::string Value;
    TSearchMatch Match = TSearchMatch::Exact;
  };

  // Answers, consumed in order; std::nullopt means the user cancels.
  std::deque<std::optional<std::vector<std::string>>> PickAnswers;
  std::deque<std::optional<TSearchAnswer>> SearchAnswers;
  std::deque<std::optional<std::string>> LookupAnswers;  // product codes of the code field
  std::deque<std::optional<std::vector<TIndexField>>> SortAnswers;
  std::set<std::string> InstalledModules;
  std::function<void(TForm*)> OnModal;
  // Called with every event line as it happens (the driver prints it).
  std::function<void(const std::string&)> OnEvent;

  // What happened.
  std::vector<std::string> Events;
  std::vector<std::string> Errors;
  std::vector<std::string> Messages;      // errors and information, in order
  std::vector<std::string> BusyCaptions;  // one entry per show
  int BusyHides = 0;
  bool BusyVisible = false;
  std::vector<std::string> PickerTitles;
  int Searches = 0;
  std::vector<TSearchColumn> SearchColumnsOffered;  // by the last search
  int Lookups = 0;
  std::vector<TSearchColumn> SortColumnsOffered;  // by the last sort dialog
  std::vector<std::string> ModulesLoaded;
  std::vector<TCursor> Cursors;
  int Repaints = 0;

  void Clear();

  void ShowForm(TForm* form) override;
  void ShowModal(TForm* form) override;
  void HideForm(TForm* form) override;
  void Repaint(TForm* form) override;
  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowBusy(TForm* owner, int animation, const std::string& caption) override;
  void HideBusy() override;
  void SetCursor(TCursor cursor) override;
  bool PickList(TDataSet* rows, const std::string& keyField, const std::string& title,
                std::vector<std::string>& marked) override;
  bool SearchRecord(TDataSet* dataSet, TSearchRequest& request) override;
  bool LookupProduct(TDataSet* rows, const std::string& codeField, const std::string& nameField,
                     int& row) override;
  bool LoadModule(const std::string& name) override;
  bool ChooseSort(TSortRequest& request) override;

 private:
  void Log(std::string line);
};

}  // namespace fw
