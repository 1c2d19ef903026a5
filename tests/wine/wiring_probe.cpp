// wiring_probe.dll: a custom action that plays the standalone setup's
// user-interface wiring without a display. It walks the package's own
// tables as the installer would show the dialogs and calls MsiDoAction for
// each custom action on the way:
// - InstallUISequence in the order of its numbers: a custom action whose
//   condition holds is done; the first dialog starts the walk of the dialogs;
// - a dialog: its controls in tab order (Control_First, then Control_Next),
//   each control's ControlEvent rows by Ordering whose condition holds:
//   DoAction is done, SpawnDialog walks that dialog at once, NewDialog names
//   the dialog that follows this one (its first NewDialog wins).
// It writes the actions it did, one a line, to the file named by PROBEFILE
// and ends the installation with 1602, as a user's cancel does.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/wine/probe_support.h"

namespace {

const UINT kUserExit = 1602;  // ERROR_INSTALL_USEREXIT
const size_t kMaxSteps = 200;

using probe::Field;

class Walk {
 public:
  explicit Walk(MSIHANDLE hInstall) : hInstall_(hInstall), hDatabase_(MsiGetActiveDatabase(hInstall)) {}
  ~Walk() { MsiCloseHandle(hDatabase_); }

  void Sequence() {
    for (const std::vector<std::string>& row :
         Rows("SELECT `Action`, `Condition` FROM `InstallUISequence` ORDER BY `Sequence`", {}, 2)) {
      if (!Holds(row[1])) continue;
      if (IsDialog(row[0])) {
        Dialogs(row[0]);
      } else if (IsCustomAction(row[0])) {
        Do(row[0]);
      }
    }
  }

  const std::string& Done() const { return done_; }

 private:
  // The rows of a query with string parameters, each as `fields` texts.
  std::vector<std::vector<std::string>> Rows(const char* query, const std::vector<std::string>& parameters,
                                             UINT fields) const {
    std::vector<std::vector<std::string>> rows;
    MSIHANDLE hView = 0;
    if (MsiDatabaseOpenView(hDatabase_, query, &hView) != ERROR_SUCCESS) return rows;
    MSIHANDLE hParameters = 0;
    if (!parameters.empty()) {
      hParameters = MsiCreateRecord(static_cast<UINT>(parameters.size()));
      for (size_t i = 0; i < parameters.size(); ++i) {
        MsiRecordSetString(hParameters, static_cast<UINT>(i + 1), parameters[i].c_str());
      }
    }
    if (MsiViewExecute(hView, hParameters) == ERROR_SUCCESS) {
      MSIHANDLE hRow = 0;
      while (MsiViewFetch(hView, &hRow) == ERROR_SUCCESS && rows.size() < kMaxSteps) {
        std::vector<std::string> row;
        for (UINT field = 1; field <= fields; ++field) row.push_back(Field(hRow, field));
        rows.push_back(row);
        MsiCloseHandle(hRow);
      }
    }
    MsiCloseHandle(hParameters);
    MsiViewClose(hView);
    MsiCloseHandle(hView);
    return rows;
  }

  bool IsDialog(const std::string& name) const {
    return !Rows("SELECT `Dialog` FROM `Dialog` WHERE `Dialog` = ?", {name}, 1).empty();
  }
  bool IsCustomAction(const std::string& name) const {
    return !Rows("SELECT `Action` FROM `CustomAction` WHERE `Action` = ?", {name}, 1).empty();
  }
  bool Holds(const std::string& condition) const {
    return condition.empty() || MsiEvaluateCondition(hInstall_, condition.c_str()) == MSICONDITION_TRUE;
  }
  void Do(const std::string& action) {
    done_ += action + "\n";
    MsiDoAction(hInstall_, action.c_str());
  }

  // The dialog, then the dialogs its NewDialog events lead to.
  void Dialogs(std::string dialog) {
    while (!dialog.empty() && shown_.insert(dialog).second) dialog = Dialog(dialog);
  }

  // Plays one dialog's events; returns the dialog that follows it.
  std::string Dialog(const std::string& dialog) {
    std::string next;
    std::vector<std::vector<std::string>> first =
        Rows("SELECT `Control_First` FROM `Dialog` WHERE `Dialog` = ?", {dialog}, 1);
    std::set<std::string> visited;
    std::string control = first.empty() ? std::string() : first[0][0];
    while (!control.empty() && visited.insert(control).second) {
      for (const std::vector<std::string>& event :
           Rows("SELECT `Event`, `Argument`, `Condition` FROM `ControlEvent` WHERE `Dialog_` = ? AND `Control_` = ? "
                "ORDER BY `Ordering`",
                {dialog, control}, 3)) {
        if (!Holds(event[2])) continue;
        if (event[0] == "DoAction") {
          Do(event[1]);
        } else if (event[0] == "SpawnDialog") {
          Dialogs(event[1]);
        } else if (event[0] == "NewDialog" && next.empty()) {
          next = event[1];
        }
      }
      std::vector<std::vector<std::string>> following =
          Rows("SELECT `Control_Next` FROM `Control` WHERE `Dialog_` = ? AND `Control` = ?", {dialog, control}, 1);
      control = following.empty() ? std::string() : following[0][0];
    }
    return next;
  }

  MSIHANDLE hInstall_;
  MSIHANDLE hDatabase_;
  std::set<std::string> shown_;
  std::string done_;
};

}  // namespace

extern "C" PROBE_EXPORT UINT __stdcall ProbeWiring(MSIHANDLE hInstall) {
  Walk walk(hInstall);
  walk.Sequence();
  const std::string path = probe::Property(hInstall, "PROBEFILE");
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return ERROR_INSTALL_FAILURE;
  const bool written = std::fwrite(walk.Done().data(), 1, walk.Done().size(), file) == walk.Done().size();
  return std::fclose(file) == 0 && written ? kUserExit : ERROR_INSTALL_FAILURE;
}
