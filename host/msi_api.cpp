// msi.dll's entry points over the simulated installer.
#include "host/msi_api.h"

#include <cstring>
#include <string>

#include "host/condition.h"
#include "host/faults.h"
#include "host/handles.h"
#include "host/package.h"
#include "host/record.h"
#include "host/session.h"
#include "host/user_interface.h"

using host::Faults;
using host::HandleTable;
using host::Record;
using host::Session;

namespace {

// Windows Installer's contract for returned strings: the length (without the
// NUL) goes back in *pcch; a buffer that cannot hold it and its NUL gets what
// fits and ERROR_MORE_DATA.
UINT CopyOut(const std::string& value, LPSTR buffer, DWORD* pcch) {
  if (pcch == nullptr) return buffer == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  DWORD capacity = *pcch;
  *pcch = static_cast<DWORD>(value.size());
  if (buffer == nullptr) return ERROR_SUCCESS;
  if (capacity > value.size()) {
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return ERROR_SUCCESS;
  }
  if (capacity > 0) {
    std::memcpy(buffer, value.c_str(), capacity - 1);
    buffer[capacity - 1] = '\0';
  }
  return ERROR_MORE_DATA;
}

std::shared_ptr<Session> SessionOf(MSIHANDLE handle) { return HandleTable::Instance().Get<Session>(handle); }

std::shared_ptr<Record> RecordOf(MSIHANDLE handle) { return HandleTable::Instance().Get<Record>(handle); }

MSIHANDLE AddHandle(std::shared_ptr<host::HandleObject> object) {
  return HandleTable::Instance().Add(std::move(object));
}

void SetErrorRecord(int error, const std::string& second = "", const std::string& third = "") {
  auto record = std::make_shared<Record>(3);
  record->SetInteger(1, error);
  record->SetString(2, second);
  record->SetString(3, third);
  host::SetLastErrorRecord(record);
}

UINT GetDirectoryPath(const char* function, MSIHANDLE hInstall, LPCSTR szFolder, LPSTR szPathBuf, DWORD* pcchPathBuf,
                      bool source) {
  if (auto error = Faults::Instance().Check(function, szFolder)) return *error;
  auto session = SessionOf(hInstall);
  if (session == nullptr) return ERROR_INVALID_HANDLE;
  if (szFolder == nullptr) return ERROR_INVALID_PARAMETER;
  std::optional<std::string> path = source ? session->SourcePath(szFolder) : session->TargetPath(szFolder);
  if (!path) {
    // "The directory entry '[2]' does not exist in the Directory table."
    SetErrorRecord(2727, szFolder);
    return ERROR_DIRECTORY;
  }
  host::SetLastErrorRecord(nullptr);
  return CopyOut(Faults::Instance().Text(function, szFolder, *path), szPathBuf, pcchPathBuf);
}

}  // namespace

extern "C" {

UINT MsiGetProperty(MSIHANDLE hInstall, LPCSTR szName, LPSTR szValueBuf, DWORD* pcchValueBuf) {
  if (auto error = Faults::Instance().Check("MsiGetProperty", szName)) return *error;
  auto session = SessionOf(hInstall);
  if (session == nullptr) return ERROR_INVALID_HANDLE;
  if (szName == nullptr) return ERROR_INVALID_PARAMETER;
  return CopyOut(Faults::Instance().Text("MsiGetProperty", szName, session->GetProperty(szName)), szValueBuf,
                 pcchValueBuf);
}

UINT MsiSetProperty(MSIHANDLE hInstall, LPCSTR szName, LPCSTR szValue) {
  if (auto error = Faults::Instance().Check("MsiSetProperty", szName)) return *error;
  auto session = SessionOf(hInstall);
  if (session == nullptr) return ERROR_INVALID_HANDLE;
  if (szName == nullptr || szName[0] == '\0') return ERROR_INVALID_PARAMETER;
  session->SetProperty(szName, szValue != nullptr ? szValue : "");
  return ERROR_SUCCESS;
}

UINT MsiGetSourcePath(MSIHANDLE hInstall, LPCSTR szFolder, LPSTR szPathBuf, DWORD* pcchPathBuf) {
  return GetDirectoryPath("MsiGetSourcePath", hInstall, szFolder, szPathBuf, pcchPathBuf, true);
}

UINT MsiGetTargetPath(MSIHANDLE hInstall, LPCSTR szFolder, LPSTR szPathBuf, DWORD* pcchPathBuf) {
  return GetDirectoryPath("MsiGetTargetPath", hInstall, szFolder, szPathBuf, pcchPathBuf, false);
}

MSIHANDLE MsiCreateRecord(UINT cParams) {
  // The key is the number of fields, so that a test can fail one kind of record.
  if (Faults::Instance().Check("MsiCreateRecord", std::to_string(cParams).c_str())) return 0;
  if (cParams > 65535) return 0;
  return AddHandle(std::make_shared<Record>(cParams));
}

UINT MsiRecordGetFieldCount(MSIHANDLE hRecord) {
  auto record = RecordOf(hRecord);
  return record != nullptr ? record->FieldCount() : static_cast<UINT>(-1);
}

BOOL MsiRecordIsNull(MSIHANDLE hRecord, UINT iField) {
  auto record = RecordOf(hRecord);
  if (record == nullptr) return FALSE;
  return record->IsNull(iField) ? TRUE : FALSE;
}

UINT MsiRecordGetString(MSIHANDLE hRecord, UINT iField, LPSTR szValueBuf, DWORD* pcchValueBuf) {
  if (auto error = Faults::Instance().Check("MsiRecordGetString")) return *error;
  auto record = RecordOf(hRecord);
  if (record == nullptr) return ERROR_INVALID_HANDLE;
  // A field's text has no name of its own: the text is its key.
  const std::string text = record->Text(iField);
  return CopyOut(Faults::Instance().Text("MsiRecordGetString", text, text), szValueBuf, pcchValueBuf);
}

int MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField) {
  auto record = RecordOf(hRecord);
  if (record == nullptr) return static_cast<int>(MSI_NULL_INTEGER);
  std::optional<int> value = record->Integer(iField);
  return value ? *value : static_cast<int>(MSI_NULL_INTEGER);
}

UINT MsiRecordSetString(MSIHANDLE hRecord, UINT iField, LPCSTR szValue) {
  if (auto error = Faults::Instance().Check("MsiRecordSetString")) return *error;
  auto record = RecordOf(hRecord);
  if (record == nullptr) return ERROR_INVALID_HANDLE;
  if (!record->InRange(iField)) return ERROR_INVALID_PARAMETER;
  if (szValue == nullptr) {
    record->SetNull(iField);
  } else {
    record->SetString(iField, szValue);
  }
  return ERROR_SUCCESS;
}

UINT MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue) {
  if (auto error = Faults::Instance().Check("MsiRecordSetInteger")) return *error;
  auto record = RecordOf(hRecord);
  if (record == nullptr) return ERROR_INVALID_HANDLE;
  if (!record->InRange(iField)) return ERROR_INVALID_PARAMETER;
  if (iValue == static_cast<int>(MSI_NULL_INTEGER)) {
    record->SetNull(iField);
  } else {
    record->SetInteger(iField, iValue);
  }
  return ERROR_SUCCESS;
}

UINT MsiFormatRecord(MSIHANDLE hInstall, MSIHANDLE hRecord, LPSTR szResultBuf, DWORD* pcchResultBuf) {
  if (auto error = Faults::Instance().Check("MsiFormatRecord")) return *error;
  std::shared_ptr<Session> session;
  if (hInstall != 0) {
    session = SessionOf(hInstall);
    if (session == nullptr) return ERROR_INVALID_HANDLE;
  }
  auto record = RecordOf(hRecord);
  if (record == nullptr) return ERROR_INVALID_HANDLE;
  // Keyed by the record's template.
  return CopyOut(
      Faults::Instance().Text("MsiFormatRecord", record->Text(0), host::FormatRecord(*record, session.get())),
      szResultBuf, pcchResultBuf);
}

UINT MsiCloseHandle(MSIHANDLE hAny) {
  if (hAny == 0) return ERROR_SUCCESS;
  return HandleTable::Instance().Close(hAny) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord) {
  if (Faults::Instance().Check("MsiProcessMessage")) return -1;
  auto session = SessionOf(hInstall);
  auto record = RecordOf(hRecord);
  if (session == nullptr || record == nullptr) return -1;
  // Error, warning and user messages are message boxes.
  switch (static_cast<uint32_t>(eMessageType) & 0xFF000000u) {
    case INSTALLMESSAGE_ERROR:
    case INSTALLMESSAGE_WARNING:
    case INSTALLMESSAGE_USER:
      return host::UserInterface::Instance().Show(*session, static_cast<uint32_t>(eMessageType), *record);
    default:
      break;
  }
  session->AppendLog(eMessageType, host::FormatRecord(*record, session.get()), record->Text(1));
  return 0;
}

MSIHANDLE MsiGetLastErrorRecord() {
  std::shared_ptr<Record> record = host::TakeLastErrorRecord();
  return record != nullptr ? AddHandle(record) : 0;
}

MSIHANDLE MsiGetActiveDatabase(MSIHANDLE hInstall) {
  if (Faults::Instance().Check("MsiGetActiveDatabase")) return 0;
  auto session = SessionOf(hInstall);
  if (session == nullptr || session->Deferred() || session->Database() == nullptr) return 0;
  return AddHandle(std::make_shared<host::DatabaseObject>(session->Database()));
}

UINT MsiDatabaseOpenView(MSIHANDLE hDatabase, LPCSTR szQuery, MSIHANDLE* phView) {
  if (auto error = Faults::Instance().Check("MsiDatabaseOpenView", szQuery)) {
    SetErrorRecord(2251, "", szQuery != nullptr ? szQuery : "");
    return *error;
  }
  auto database = HandleTable::Instance().Get<host::DatabaseObject>(hDatabase);
  if (database == nullptr) return ERROR_INVALID_HANDLE;
  if (szQuery == nullptr || phView == nullptr) return ERROR_INVALID_PARAMETER;
  if (std::strstr(szQuery, "FROM `Error`") != nullptr) host::NoteErrorTableQuery(szQuery);
  int internalError = 0;
  auto view = host::ViewObject::Open(database->Connection(), szQuery, &internalError);
  if (view == nullptr) {
    // "Database: [2] OpenView failed for query: [3]"
    SetErrorRecord(internalError, "", szQuery);
    return ERROR_BAD_QUERY_SYNTAX;
  }
  host::SetLastErrorRecord(nullptr);
  *phView = AddHandle(view);
  return ERROR_SUCCESS;
}

UINT MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord) {
  // Faults name a view by its query.
  auto view = HandleTable::Instance().Get<host::ViewObject>(hView);
  if (auto error = Faults::Instance().Check("MsiViewExecute", view ? view->Sql().c_str() : nullptr)) return *error;
  if (view == nullptr) return ERROR_INVALID_HANDLE;
  std::shared_ptr<Record> parameters;
  if (hRecord != 0) {
    parameters = RecordOf(hRecord);
    if (parameters == nullptr) return ERROR_INVALID_HANDLE;
  }
  UINT result = view->Execute(parameters.get());
  if (result != ERROR_SUCCESS) {
    // The installer keeps an error record for a failed execute as well.
    SetErrorRecord(2261);
  } else {
    host::SetLastErrorRecord(nullptr);
  }
  return result;
}

UINT MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord) {
  auto view = HandleTable::Instance().Get<host::ViewObject>(hView);
  if (auto error = Faults::Instance().Check("MsiViewFetch", view ? view->Sql().c_str() : nullptr)) return *error;
  if (view == nullptr) return ERROR_INVALID_HANDLE;
  if (phRecord == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Record> row;
  UINT result = view->Fetch(&row);
  if (result == ERROR_SUCCESS) *phRecord = AddHandle(row);
  return result;
}

UINT MsiViewClose(MSIHANDLE hView) {
  if (auto error = Faults::Instance().Check("MsiViewClose")) return *error;
  auto view = HandleTable::Instance().Get<host::ViewObject>(hView);
  if (view == nullptr) return ERROR_INVALID_HANDLE;
  return view->Close();
}

UINT MsiViewModify(MSIHANDLE hView, MSIMODIFY eModifyMode, MSIHANDLE hRecord) {
  auto view = HandleTable::Instance().Get<host::ViewObject>(hView);
  if (auto error = Faults::Instance().Check("MsiViewModify", view ? view->Sql().c_str() : nullptr)) return *error;
  if (view == nullptr) return ERROR_INVALID_HANDLE;
  auto record = RecordOf(hRecord);
  if (record == nullptr) return ERROR_INVALID_HANDLE;
  return view->Modify(eModifyMode, *record);
}

MSICONDITION MsiEvaluateCondition(MSIHANDLE hInstall, LPCSTR szCondition) {
  // A fault gives the answer to return; the installer has no other answers
  // than these four.
  if (auto answer = Faults::Instance().Check("MsiEvaluateCondition", szCondition)) {
    return *answer <= MSICONDITION_ERROR ? static_cast<MSICONDITION>(*answer) : MSICONDITION_ERROR;
  }
  auto session = SessionOf(hInstall);
  // Windows answers a bad handle with an error even for a null condition.
  if (session == nullptr) return MSICONDITION_ERROR;
  if (szCondition == nullptr) return MSICONDITION_NONE;
  return host::EvaluateCondition(szCondition, session.get());
}

UINT MsiGetFeatureState(MSIHANDLE hInstall, LPCSTR szFeature, INSTALLSTATE* piInstalled, INSTALLSTATE* piAction) {
  if (auto error = Faults::Instance().Check("MsiGetFeatureState", szFeature)) return *error;
  auto session = SessionOf(hInstall);
  if (session == nullptr) return ERROR_INVALID_HANDLE;
  if (szFeature == nullptr) return ERROR_INVALID_PARAMETER;
  std::optional<host::ItemState> state = session->FeatureState(szFeature);
  if (!state) return ERROR_UNKNOWN_FEATURE;
  if (piInstalled != nullptr) *piInstalled = state->installed;
  if (piAction != nullptr) *piAction = state->action;
  return ERROR_SUCCESS;
}

UINT MsiSetFeatureState(MSIHANDLE hInstall, LPCSTR szFeature, INSTALLSTATE iState) {
  if (auto error = Faults::Instance().Check("MsiSetFeatureState", szFeature)) return *error;
  auto session = SessionOf(hInstall);
  if (session == nullptr) return ERROR_INVALID_HANDLE;
  if (szFeature == nullptr) return ERROR_INVALID_PARAMETER;
  if (!session->FeatureState(szFeature)) return ERROR_UNKNOWN_FEATURE;
  // The documented states; Wine also stores any other number.
  switch (iState) {
    case INSTALLSTATE_ADVERTISED:
    case INSTALLSTATE_ABSENT:
    case INSTALLSTATE_LOCAL:
    case INSTALLSTATE_SOURCE:
      break;
    default:
      return ERROR_FUNCTION_FAILED;
  }
  session->RequestFeatureState(szFeature, iState);
  return ERROR_SUCCESS;
}

UINT MsiSetTargetPath(MSIHANDLE hInstall, LPCSTR szFolder, LPCSTR szFolderPath) {
  if (auto error = Faults::Instance().Check("MsiSetTargetPath", szFolder)) return *error;
  // Windows checks the arguments before the handle.
  if (szFolder == nullptr || szFolderPath == nullptr) return ERROR_INVALID_PARAMETER;
  auto session = SessionOf(hInstall);
  if (session == nullptr) return ERROR_INVALID_HANDLE;
  if (!session->MoveDirectory(szFolder, szFolderPath)) {
    // "The directory entry '[2]' does not exist in the Directory table."
    SetErrorRecord(2727, szFolder);
    return ERROR_DIRECTORY;
  }
  host::SetLastErrorRecord(nullptr);
  return ERROR_SUCCESS;
}

BOOL MsiGetMode(MSIHANDLE hInstall, MSIRUNMODE eRunMode) {
  if (Faults::Instance().Check("MsiGetMode")) return FALSE;
  auto session = SessionOf(hInstall);
  if (session == nullptr) return FALSE;
  return session->Mode(eRunMode) ? TRUE : FALSE;
}
}
