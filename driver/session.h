// A scripted user session against the screens on the fake platform, with its transcript.
//
// The session owns the fake platform and the canned service; it installs them as the
// application's platform and the host's service factory, echoes each command, prints every event
// as it happens, runs the checks and counts the failed ones. What loading the module means is
// given by TModuleHooks, so that the tests can drive plain forms without the package.
//
// Modal screens: when the module shows a form modally, the platform calls back into the session,
// which goes on reading commands with that form active until a `close` closes it; the module's
// call that showed it then returns and the script goes on after the command that opened it.
//
// Transcript (one line each, events indented by two blanks):
//   > row dbgPadrao 2
//     busy shown: "Carregando..."
//     call GetItens(dtSoliIni=30/12/1899, ..., cdFilial="0002", ...) -> 3 rows
//     focus: dbgPadrao
//   FAIL line 14: expected rows 3, got 2
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "driver/script.h"
#include "framework/data/component.h"
#include "framework/testing/canned_service.h"
#include "framework/testing/fake_platform.h"
#include "protocol/remote.h"

namespace driver {

// What the session asks of the module. Each hook may raise TScriptError (a package that cannot be
// loaded, for instance).
struct TModuleHooks {
  std::function<void()> Start;  // load the package if needed, then IniProc
  std::function<void()> Open;   // load the package if needed, then CriaAcompSoli
  // The request screen, or nullptr when none exists.
  std::function<fw::TForm*()> RequestScreen;
  // The value of a module variable ("true"/"false" for booleans); nullopt when it cannot be read
  // now (no request screen for its screen-owned flags). Absent: `expect var` is refused.
  std::function<std::optional<std::string>(const std::string& name)> ReadVariable;
};

// One remote call as the screens made it.
struct TCallRecord {
  std::string Method;
  std::vector<fw::TRemoteArg> Args;  // as sent
  int Rows = -1;                     // rows returned; -1 for a refusal or an error
};

class TSession : private fw::IModelObserver {
 public:
  enum class TService { Canned, Remote };

  TSession(std::ostream& out, TModuleHooks hooks, TService service = TService::Canned);
  ~TSession() override;
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // Wraps a connection to the service so that its calls are recorded and printed; the session
  // outlives every wrapper it hands out.
  std::unique_ptr<fw::IAppServer> Record(std::unique_ptr<fw::IAppServer> server);
  // A recorded connection to the session's canned service.
  std::unique_ptr<fw::IAppServer> ConnectCanned();

  // Runs the commands in order. Returns the exit status: 0 when every check held, 1 when one
  // failed, 2 when the script could not go on (the reason is in ScriptError()).
  int Run(const std::vector<TCommand>& commands);

  const std::optional<TScriptError>& ScriptError() const { return scriptError_; }
  int Checks() const { return checks_; }
  int FailedChecks() const { return failed_; }
  fw::TFakePlatform& Platform() { return platform_; }
  service::TCannedAppServer& Canned() { return canned_; }

  // Transcript text of a remote argument: dates dd/mm/yyyy[ hh:nn:ss], strings quoted.
  static std::string ArgText(const fw::TRemoteArg& arg);

 private:
  class TRecorder;
  friend class TRecorder;

  void ModelChanged(fw::TComponent* component, fw::TChange change) override;

  // Reads and runs commands until the script ends, the modal form (when given) is closed, or the
  // script fails.
  void RunCommands(fw::TForm* modal);
  void Execute(const TCommand& command);
  void ExecuteCheck(const TCommand& command);
  void ServeCommand(const TCommand& command);
  void Print(const std::string& line);
  void Event(const std::string& line) { Print("  " + line); }
  void ReportFocus();
  void Check(const TCommand& command, bool held, const std::string& expected,
             const std::string& got);
  void CallMade(TCallRecord record, const std::string& outcome);

  // While a modal form is up the user reaches no other form, nor the host's menu: a command
  // aimed at one (`target`, nullptr for the menu) is a script error naming the modal form.
  void RefuseUnderModal(const TCommand& command, const fw::TForm* target) const;
  // Names on the active form (inputs), or on any form, the active one first (checks).
  fw::TForm* ActiveForm(const TCommand& command) const;
  fw::TComponent* FindInput(const TCommand& command, const std::string& name) const;
  fw::TComponent* FindAnywhere(const TCommand& command, const std::string& name) const;
  template <typename T>
  T* Input(const TCommand& command, const std::string& name, const char* kind) const;
  template <typename T>
  T* Anywhere(const TCommand& command, const std::string& name, const char* kind) const;
  int GridColumn(const TCommand& command, fw::TDBGrid* grid, const std::string& field) const;

  std::ostream& out_;
  TModuleHooks hooks_;
  TService service_;
  fw::TFakePlatform platform_;
  service::TCannedAppServer canned_;

  const std::vector<TCommand>* commands_ = nullptr;
  size_t next_ = 0;
  std::optional<TScriptError> scriptError_;
  bool muted_ = false;
  int checks_ = 0;
  int failed_ = 0;

  std::vector<fw::TForm*> modalForms_;  // shown modally and not yet destroyed
  fw::TComponent* lastFocus_ = nullptr;
  bool focusGone_ = false;

  std::vector<TCallRecord> calls_;
  size_t callsChecked_ = 0;
  size_t messagesChecked_ = 0;
  size_t busyChecked_ = 0;
  size_t loadsChecked_ = 0;
};

}  // namespace driver
