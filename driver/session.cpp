#include "driver/session.h"

#include <algorithm>
#include <map>

#include "framework/host/config.h"
#include "framework/platform.h"
#include "framework/ui/application.h"
#include "grid_export/grid_export.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"

namespace driver {

namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ParamName(const std::string& method, size_t index) {
  const service::TMethodDef* def = service::FindMethod(method);
  if (def && index < def->Params.size()) return def->Params[index].Name;
  // Appended, not "#" + std::to_string(...): GCC 12 at -O3 sees a false overlap in the insert
  // that operator+ makes and fails the Release build under -Werror=restrict.
  std::string name = "#";
  name += std::to_string(index + 1);
  return name;
}

std::string YesNo(bool value) {
  return value ? "yes" : "no";
}

}  // namespace

// Records and prints every call made through one connection.
class TSession::TRecorder : public fw::IAppServer {
 public:
  TRecorder(TSession* session, std::unique_ptr<fw::IAppServer> inner)
      : session_(session), inner_(std::move(inner)) {}

  fw::TRemoteResult Invoke(const std::string& method, std::vector<fw::TRemoteArg>& args) override {
    const std::vector<fw::TRemoteArg> sent = args;
    fw::TRemoteResult result;
    try {
      result = inner_->Invoke(method, args);
    } catch (const std::exception& error) {
      session_->CallMade({method, sent, -1}, std::string("error: ") + error.what());
      throw;
    }
    if (result.Refused) {
      session_->CallMade({method, sent, -1}, "refused: " + result.RefusalMessage);
      return result;
    }
    const int rows = static_cast<int>(result.Data.RowCount());
    std::string outcome = std::to_string(rows) + (rows == 1 ? " row" : " rows");
    for (size_t i = 0; i < args.size() && i < sent.size(); ++i)
      if (args[i].Kind == fw::TRemoteArg::TKind::InOutString && args[i].Text != sent[i].Text)
        outcome += "; " + ParamName(method, i) + " := " + Quote(args[i].Text);
    session_->CallMade({method, sent, rows}, outcome);
    return result;
  }

 private:
  TSession* session_;
  std::unique_ptr<fw::IAppServer> inner_;
};

TSession::TSession(std::ostream& out, TModuleHooks hooks, TService service)
    : out_(out), hooks_(std::move(hooks)), service_(service) {
  fw::InitApplication();
  fw::Application->SetPlatform(&platform_);
  platform_.OnEvent = [this](const std::string& line) { Event(line); };
  platform_.OnModal = [this](fw::TForm* form) {
    modalForms_.push_back(form);
    RunCommands(form);
    modalForms_.erase(std::remove(modalForms_.begin(), modalForms_.end(), form), modalForms_.end());
  };
  fw::AddModelObserver(this);
  if (service_ == TService::Canned)
    fw::HostConfig().ServiceFactory = [this](const std::string&, int, const std::string&) {
      return ConnectCanned();
    };
}

TSession::~TSession() {
  muted_ = true;
  fw::RemoveModelObserver(this);
  fw::HostConfig().ServiceFactory = nullptr;
  fw::DoneApplication();
}

std::unique_ptr<fw::IAppServer> TSession::Record(std::unique_ptr<fw::IAppServer> server) {
  if (!server) return nullptr;
  return std::make_unique<TRecorder>(this, std::move(server));
}

std::unique_ptr<fw::IAppServer> TSession::ConnectCanned() {
  return Record(canned_.Connect());
}

std::string TSession::ArgText(const fw::TRemoteArg& arg) {
  if (arg.Kind == fw::TRemoteArg::TKind::Date) return fw::DateTimeToText(arg.Date);
  return Quote(arg.Text);
}

int TSession::Run(const std::vector<TCommand>& commands) {
  commands_ = &commands;
  next_ = 0;
  RunCommands(nullptr);
  commands_ = nullptr;
  if (scriptError_) return 2;
  return failed_ > 0 ? 1 : 0;
}

void TSession::RunCommands(fw::TForm* modal) {
  while (!scriptError_ && commands_ && next_ < commands_->size()) {
    const TCommand& command = (*commands_)[next_++];
    Print("> " + command.Text);
    try {
      Execute(command);
    } catch (const TScriptError& error) {
      Print("ERROR line " + std::to_string(error.Line()) + ": " + error.what());
      scriptError_ = error;
      muted_ = true;  // what the module does while the failure unwinds is not the session's
      return;
    }
    if (scriptError_) return;
    ReportFocus();
    if (modal) {
      const bool alive =
          std::find(modalForms_.begin(), modalForms_.end(), modal) != modalForms_.end();
      if (!alive || !modal->Visible()) return;
    }
  }
}

void TSession::Print(const std::string& line) {
  if (muted_) return;
  out_ << line << '\n';
  out_.flush();
}

void TSession::ReportFocus() {
  fw::TControl* now = fw::Application ? fw::Application->FocusedControl() : nullptr;
  if (now == lastFocus_ && !focusGone_) return;
  lastFocus_ = now;
  focusGone_ = false;
  Event("focus: " + (now ? now->Name() : std::string("(none)")));
}

void TSession::ModelChanged(fw::TComponent* component, fw::TChange change) {
  if (change == fw::TChange::Destroyed) {
    if (component == lastFocus_) {
      lastFocus_ = nullptr;
      focusGone_ = true;  // freed with its form: the next report says so
    }
    modalForms_.erase(std::remove(modalForms_.begin(), modalForms_.end(), component),
                      modalForms_.end());
  } else if (change == fw::TChange::Focus) {
    ReportFocus();
  }
}

void TSession::CallMade(TCallRecord record, const std::string& outcome) {
  std::string line = "call " + record.Method + "(";
  for (size_t i = 0; i < record.Args.size(); ++i)
    line += (i ? ", " : "") + ParamName(record.Method, i) + "=" + ArgText(record.Args[i]);
  Event(line + ") -> " + outcome);
  calls_.push_back(std::move(record));
}

void TSession::Check(const TCommand& command, bool held, const std::string& expected,
                     const std::string& got) {
  ++checks_;
  if (held) return;
  ++failed_;
  Print("FAIL line " + std::to_string(command.Line) + ": expected " + expected + ", got " + got);
}

// ---- names ----

fw::TForm* TSession::ActiveForm(const TCommand& command) const {
  fw::TForm* form = fw::Application ? fw::Application->ActiveForm() : nullptr;
  if (!form) throw TScriptError(command.Line, "no form is open");
  return form;
}

void TSession::RefuseUnderModal(const TCommand& command, const fw::TForm* target) const {
  fw::TForm* modal = fw::Application ? fw::Application->ModalForm() : nullptr;
  if (!modal || modal == target) return;
  throw TScriptError(command.Line, "the modal form \"" + modal->Caption() + "\" (" + modal->Name() +
                                       ") is open: the user cannot " + command.Name + " " +
                                       (target ? target->Name() : std::string("the host's menu")));
}

fw::TComponent* TSession::FindInput(const TCommand& command, const std::string& name) const {
  fw::TForm* form = ActiveForm(command);
  RefuseUnderModal(command, form);
  if (form->Name() == name) return form;
  fw::TComponent* found = form->FindComponent(name);
  if (!found) throw TScriptError(command.Line, "no '" + name + "' on the active form");
  return found;
}

fw::TComponent* TSession::FindAnywhere(const TCommand& command, const std::string& name) const {
  std::vector<fw::TForm*> forms;
  fw::TForm* active = fw::Application ? fw::Application->ActiveForm() : nullptr;
  if (active) forms.push_back(active);
  if (fw::Application)
    for (auto* form : fw::Application->Forms())
      if (form != active) forms.push_back(form);
  for (auto* form : forms) {
    if (form->Name() == name) return form;
    if (fw::TComponent* found = form->FindComponent(name)) return found;
  }
  throw TScriptError(command.Line, "no '" + name + "' on any open form");
}

template <typename T>
T* TSession::Input(const TCommand& command, const std::string& name, const char* kind) const {
  auto* typed = dynamic_cast<T*>(FindInput(command, name));
  if (!typed) throw TScriptError(command.Line, "'" + name + "' is not " + kind);
  return typed;
}

template <typename T>
T* TSession::Anywhere(const TCommand& command, const std::string& name, const char* kind) const {
  auto* typed = dynamic_cast<T*>(FindAnywhere(command, name));
  if (!typed) throw TScriptError(command.Line, "'" + name + "' is not " + kind);
  return typed;
}

int TSession::GridColumn(const TCommand& command, fw::TDBGrid* grid,
                         const std::string& field) const {
  const int column = grid->ColumnIndex(field);
  if (column < 0)
    throw TScriptError(command.Line,
                       "grid " + grid->Name() + " has no column of field '" + field + "'");
  return column;
}

// ---- commands ----

void TSession::Execute(const TCommand& command) {
  const std::string& name = command.Name;
  const auto& args = command.Args;
  fw::TApplication* app = fw::Application;
  auto ignored = [&](const std::string& why) { Event("ignored: " + why); };

  if (name == "start" || name == "open") {
    const auto& hook = name == "start" ? hooks_.Start : hooks_.Open;
    if (!hook) throw TScriptError(command.Line, "no module to " + name);
    // The host's menu is behind the modal form too.
    RefuseUnderModal(command, nullptr);
    try {
      hook();
    } catch (const TScriptError& error) {
      throw TScriptError(command.Line, error.what());
    }
  } else if (name == "activate") {
    fw::TForm* form = hooks_.RequestScreen ? hooks_.RequestScreen() : nullptr;
    if (!form) return ignored("no request screen");
    RefuseUnderModal(command, form);
    app->UserActivate(form);
  } else if (name == "close") {
    fw::TForm* form = app->ActiveForm();
    if (!form) return ignored("no form is open");
    RefuseUnderModal(command, form);
    app->UserClose(form);
  } else if (name == "focus") {
    auto* control = Input<fw::TControl>(command, args[0], "a control");
    if (!app->UserFocus(control)) ignored("the focus did not reach " + args[0]);
  } else if (name == "type") {
    auto* edit = Input<fw::TEdit>(command, args[0], "an edit");
    if (!app->UserType(edit, args[1])) ignored(args[0] + " does not take the text");
  } else if (name == "click") {
    fw::TComponent* target = FindInput(command, args[0]);
    bool done = false;
    if (auto* item = dynamic_cast<fw::TMenuItem*>(target))
      done = app->UserClickMenu(item);
    else if (auto* page = dynamic_cast<fw::TTabSheet*>(target))
      done = app->UserSelectTab(page);
    else if (auto* control = dynamic_cast<fw::TControl*>(target))
      done = app->UserClick(control);
    else
      throw TScriptError(command.Line, "'" + args[0] + "' cannot be clicked");
    if (!done) ignored(args[0] + " is disabled");
  } else if (name == "key") {
    auto* control = Input<fw::TControl>(command, args[0], "a control");
    uint16_t key = 0;
    fw::TShiftState shift = 0;
    ParseKeyName(args[1], key);
    if (args.size() > 2) ParseModifiers(args[2], shift);
    if (!app->UserKey(control, key, shift)) ignored(args[0] + " cannot take the focus");
  } else if (name == "row") {
    auto* grid = Input<fw::TDBGrid>(command, args[0], "a grid");
    int row = 0;
    ParseCount(args[1], 1, 1000000000, row);
    const int rows = grid->RowCount();
    if (row > rows)
      throw TScriptError(command.Line, "row " + args[1] + " out of range: " + args[0] + " shows " +
                                           std::to_string(rows) + " rows");
    if (!app->UserSelectRow(grid, row - 1)) ignored(args[0] + " cannot take the focus");
  } else if (name == "column" || name == "dblclick") {
    auto* grid = Input<fw::TDBGrid>(command, args[0], "a grid");
    if (args.size() > 1) {
      const int column = GridColumn(command, grid, args[1]);
      if (!app->UserSelectColumn(grid, column)) return ignored(args[0] + " cannot take the focus");
      if (scriptError_) return;
    }
    if (name == "dblclick" && !app->UserDblClick(grid)) ignored(args[0] + " cannot take the focus");
  } else if (name == "export") {
    // The host's grid menu: the rows as the grid shows them, without moving its cursor.
    auto* grid = Input<fw::TDBGrid>(command, args[0], "a grid");
    try {
      const gridexport::TGridSource source(*grid);
      gridexport::Export(source, args[1]);
      Event("exported " + std::to_string(source.RowCount()) + " rows to " + args[1]);
    } catch (const gridexport::EExportError& failure) {
      app->Platform()->ShowError(failure.what());
    }
  } else if (name == "sort") {
    // As the column titles and the sort dialog do: the data set's own order, nothing asked of
    // the server, the current record kept.
    auto* grid = Input<fw::TDBGrid>(command, args[0], "a grid");
    fw::TDataSet* dataSet = grid->DataSet();
    if (!dataSet) throw TScriptError(command.Line, "grid " + args[0] + " shows no data set");
    std::vector<fw::TIndexField> fields;
    if (args.size() > 1) {
      const int column = GridColumn(command, grid, args[1]);
      fields.push_back({grid->Columns[static_cast<size_t>(column)].FieldName,
                        args.size() > 2 && args[2] == "desc"});
    }
    if (!app->UserSort(grid, fields)) return ignored(args[0] + " cannot be sorted by " + args[1]);
    std::string order;
    for (const fw::TIndexField& field : dataSet->IndexFields()) {
      order += order.empty() ? "by " : ", ";
      order += field.FieldName;
      if (field.Descending) order += " desc";
    }
    Event("order of " + dataSet->Name() + ": " + (order.empty() ? "as served" : order));
  } else if (name == "pick") {
    platform_.PickAnswers.emplace_back(args);
  } else if (name == "pick-cancel") {
    platform_.PickAnswers.emplace_back(std::nullopt);
  } else if (name == "find") {
    fw::TSearchMatch match = fw::TSearchMatch::Exact;
    if (args.size() > 2) ParseSearchMatch(args[2], match);
    platform_.SearchAnswers.emplace_back(fw::TFakePlatform::TSearchAnswer{args[0], args[1], match});
  } else if (name == "lookup") {
    platform_.LookupAnswers.emplace_back(args[0]);
  } else if (name == "serve" || name == "fail" || name == "error" || name == "refs") {
    ServeCommand(command);
  } else if (name == "expect") {
    ExecuteCheck(command);
  } else {
    throw TScriptError(command.Line, "unknown command '" + name + "'");
  }
}

void TSession::ServeCommand(const TCommand& command) {
  if (service_ != TService::Canned)
    throw TScriptError(command.Line,
                       "'" + command.Name + "' needs the canned service (--service canned)");
  const auto& args = command.Args;
  try {
    if (command.Name == "serve" && command.HasBlock) {
      canned_.ServeText(args[0], command.Header, command.Rows);
    } else if (command.Name == "serve") {
      canned_.ServeEmpty(args[0]);
    } else if (command.Name == "fail") {
      canned_.FailNext(args[0], args[1]);
    } else if (command.Name == "error") {
      canned_.ErrorNext(args[0], args[1]);
    } else {
      std::map<std::string, std::string> values;
      for (size_t i = 1; i < args.size(); ++i) {
        const size_t equals = args[i].find('=');
        values[args[i].substr(0, equals)] = args[i].substr(equals + 1);
      }
      canned_.RefsNext(args[0], std::move(values));
    }
  } catch (const std::invalid_argument& error) {
    throw TScriptError(command.Line, error.what());
  }
}

void TSession::ExecuteCheck(const TCommand& command) {
  const std::string& what = command.Args[0];
  const std::vector<std::string> args(command.Args.begin() + 1, command.Args.end());
  fw::TApplication* app = fw::Application;

  if (what == "focus") {
    FindAnywhere(command, args[0]);  // an unknown name is a script error, not a failed check
    fw::TControl* focused = app->FocusedControl();
    const std::string got = focused ? focused->Name() : "(none)";
    Check(command, got == args[0], "focus on " + args[0], got);
  } else if (what == "form") {
    fw::TForm* form = app->ActiveForm();
    const std::string got = form ? Quote(form->Caption()) : "(no form)";
    Check(command, form && form->Caption() == args[0], "form " + Quote(args[0]), got);
  } else if (what == "text") {
    fw::TComponent* target = FindAnywhere(command, args[0]);
    std::string text;
    if (auto* edit = dynamic_cast<fw::TEdit*>(target))
      text = edit->Text();
    else if (auto* dbText = dynamic_cast<fw::TDBText*>(target))
      text = dbText->Text();
    else if (auto* control = dynamic_cast<fw::TControl*>(target))
      text = control->Caption();
    else if (auto* item = dynamic_cast<fw::TMenuItem*>(target))
      text = item->Caption();
    else
      throw TScriptError(command.Line, "'" + args[0] + "' shows no text");
    Check(command, text == args[1], "text " + Quote(args[1]), Quote(text));
  } else if (what == "enabled") {
    fw::TComponent* target = FindAnywhere(command, args[0]);
    bool enabled = false;
    if (auto* item = dynamic_cast<fw::TMenuItem*>(target))
      enabled = item->Enabled();
    else if (auto* control = dynamic_cast<fw::TControl*>(target))
      enabled = control->Enabled();
    else
      throw TScriptError(command.Line, "'" + args[0] + "' is not a control or menu item");
    Check(command, YesNo(enabled) == args[1], "enabled " + args[1], YesNo(enabled));
  } else if (what == "checked") {
    auto* radio = Anywhere<fw::TRadioButton>(command, args[0], "a radio button");
    Check(command, YesNo(radio->Checked()) == args[1], "checked " + args[1],
          YesNo(radio->Checked()));
  } else if (what == "message" || what == "message-like" || what == "no-message") {
    const auto& messages = platform_.Messages;
    const bool any = messages.size() > messagesChecked_;
    const std::string last = any ? messages.back() : std::string();
    messagesChecked_ = messages.size();
    if (what == "no-message") {
      Check(command, !any, "no message", "message " + Quote(last));
    } else {
      const bool held =
          any && (what == "message" ? last == args[0] : last.find(args[0]) != std::string::npos);
      Check(command, held,
            (what == "message" ? "message " : "message containing ") + Quote(args[0]),
            any ? "message " + Quote(last) : "no message");
    }
  } else if (what == "open") {
    auto* dataSet = Anywhere<fw::TDataSet>(command, args[0], "a data set");
    const std::string got = dataSet->Active() ? "open" : "closed";
    Check(command, YesNo(dataSet->Active()) == args[1],
          args[1] == "yes" ? std::string("open") : std::string("closed"), got);
  } else if (what == "rows") {
    auto* dataSet = Anywhere<fw::TDataSet>(command, args[0], "a data set");
    const std::string got =
        dataSet->Active() ? std::to_string(dataSet->RecordCount()) + " rows" : "closed";
    Check(command, got == args[1] + " rows", args[1] + " rows", got);
  } else if (what == "cell") {
    auto* grid = Anywhere<fw::TDBGrid>(command, args[0], "a grid");
    const int column = GridColumn(command, grid, args[2]);
    int row = 0;
    ParseCount(args[1], 1, 1000000000, row);
    if (row > grid->RowCount()) {
      Check(command, false, Quote(args[3]) + " in row " + args[1],
            "no row " + args[1] + " (" + std::to_string(grid->RowCount()) + " rows)");
      return;
    }
    const std::string text = grid->CellText(row - 1, column);
    Check(command, text == args[3], Quote(args[3]), Quote(text));
  } else if (what == "current") {
    auto* dataSet = Anywhere<fw::TDataSet>(command, args[0], "a data set");
    const std::string got = "row " + std::to_string(dataSet->RecNo());
    Check(command, got == "row " + args[1], "row " + args[1], got);
  } else if (what == "column") {
    auto* grid = Anywhere<fw::TDBGrid>(command, args[0], "a grid");
    GridColumn(command, grid, args[1]);
    const int selected = grid->SelectedIndex();
    const std::string got = selected >= 0 && selected < grid->ColumnCount()
                                ? grid->Columns[static_cast<size_t>(selected)].FieldName
                                : "(none)";
    Check(command, got == args[1], "column " + args[1], "column " + got);
  } else if (what == "var") {
    if (!hooks_.ReadVariable)
      throw TScriptError(command.Line, "'expect var' needs the module's variables");
    const std::optional<std::string> value = hooks_.ReadVariable(args[0]);
    const bool boolean = IsBooleanVariable(args[0]);
    auto shown = [&](const std::string& v) { return boolean ? v : Quote(v); };
    Check(command, value && *value == args[1], args[0] + " = " + shown(args[1]),
          value ? shown(*value) : "(no request screen)");
  } else if (what == "calls") {
    std::vector<std::string> made;
    for (size_t i = callsChecked_; i < calls_.size(); ++i) made.push_back(calls_[i].Method);
    callsChecked_ = calls_.size();
    auto join = [](const std::vector<std::string>& names) {
      if (names.empty()) return std::string("(none)");
      std::string text;
      for (const auto& n : names) text += (text.empty() ? "" : " ") + n;
      return text;
    };
    Check(command, made == args, "calls " + join(args), join(made));
  } else if (what == "arg") {
    const service::TMethodDef* method = service::FindMethod(args[0]);
    const int index = service::ParamIndex(*method, args[1]);
    auto last = std::find_if(calls_.rbegin(), calls_.rend(),
                             [&](const TCallRecord& call) { return call.Method == args[0]; });
    const std::string expected = args[0] + " " + args[1] + " = " + args[2];
    if (last == calls_.rend() || index >= static_cast<int>(last->Args.size())) {
      Check(command, false, expected, "no call of " + args[0]);
      return;
    }
    const fw::TRemoteArg& arg = last->Args[index];
    bool held = false;
    std::string got;
    if (arg.Kind == fw::TRemoteArg::TKind::Date) {
      got = fw::DateTimeToText(arg.Date);
      held = got == fw::DateTimeToText(*fw::TextToDateTime(args[2]));
    } else {
      got = arg.Text;
      held = got == args[2];
    }
    Check(command, held, expected, Quote(got));
  } else if (what == "busy") {
    const size_t shown = platform_.BusyCaptions.size() - busyChecked_;
    busyChecked_ = platform_.BusyCaptions.size();
    Check(command, std::to_string(shown) == args[0], "busy shown " + args[0] + " times",
          std::to_string(shown));
  } else if (what == "caption") {
    const auto& captions = platform_.BusyCaptions;
    Check(command, !captions.empty() && captions.back() == args[0], "caption " + Quote(args[0]),
          captions.empty() ? "busy indicator never shown" : Quote(captions.back()));
  } else if (what == "busy-off") {
    Check(command, !platform_.BusyVisible, "busy indicator hidden", "shown");
  } else if (what == "loaded") {
    const auto& loads = platform_.ModulesLoaded;
    std::vector<std::string> since(loads.begin() + static_cast<long>(loadsChecked_), loads.end());
    loadsChecked_ = loads.size();
    std::string got;
    for (const auto& module : since) got += (got.empty() ? "" : " ") + module;
    Check(command, std::find(since.begin(), since.end(), args[0]) != since.end(),
          "load of " + args[0], got.empty() ? "no load" : "loads " + got);
  } else if (what == "cursor") {
    const std::string got = app->Cursor() == fw::TCursor::crHourGlass ? "hourglass" : "default";
    Check(command, got == args[0], "cursor " + args[0], got);
  } else {
    throw TScriptError(command.Line, "unknown check 'expect " + what + "'");
  }
}

}  // namespace driver
