#include "host/package.h"

#include <libmsi.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "host/msi_api.h"

namespace host {

namespace {

// libmsi reports through GLib's log; the installer's own results are what
// tests look at, so its chatter is silenced.
void QuietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void SilenceLibmsi() {
  static bool silenced = false;
  if (!silenced) {
    g_log_set_default_handler(QuietLog, nullptr);
    silenced = true;
  }
}

std::string TakeError(GError*& error) {
  std::string message = error != nullptr ? error->message : "unknown error";
  g_clear_error(&error);
  return message;
}

// Number of '?' parameter markers outside quotes.
int CountParameters(const std::string& sql) {
  int count = 0;
  char quote = 0;
  for (char c : sql) {
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '`') {
      quote = c;
    } else if (c == '?') {
      ++count;
    }
  }
  return count;
}

}  // namespace

std::shared_ptr<Package> Package::FromSql(const std::vector<std::string>& statements) {
  SilenceLibmsi();
  char folderTemplate[] = "/tmp/vrinpkg-XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) throw std::runtime_error("cannot create a package folder");
  std::string folder = folderTemplate;
  std::shared_ptr<Package> package(new Package(folder + "/package.msi", folder));
  GError* error = nullptr;
  LibmsiDatabase* database = libmsi_database_new(package->path_.c_str(), LIBMSI_DB_FLAGS_CREATE, nullptr, &error);
  if (database == nullptr) throw std::runtime_error("cannot create package: " + TakeError(error));
  for (const std::string& sql : statements) {
    LibmsiQuery* query = libmsi_query_new(database, sql.c_str(), &error);
    bool ok = query != nullptr && libmsi_query_execute(query, nullptr, &error);
    if (query != nullptr) {
      libmsi_query_close(query, nullptr);
      g_object_unref(query);
    }
    if (!ok) {
      std::string message = TakeError(error);
      libmsi_database_commit(database, nullptr);
      g_object_unref(database);
      throw std::runtime_error("package statement failed (" + message + "): " + sql);
    }
  }
  bool committed = libmsi_database_commit(database, &error);
  g_object_unref(database);
  if (!committed) throw std::runtime_error("cannot write package: " + TakeError(error));
  return package;
}

std::shared_ptr<Package> Package::Open(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) throw std::runtime_error("no package at " + path);
  return std::shared_ptr<Package>(new Package(path, ""));
}

Package::~Package() {
  if (!ownedFolder_.empty()) {
    unlink(path_.c_str());
    rmdir(ownedFolder_.c_str());
  }
}

DatabaseConnection::~DatabaseConnection() {
  if (database_ != nullptr) g_object_unref(database_);
}

std::shared_ptr<DatabaseConnection> DatabaseConnection::OpenReadOnly(const std::string& path) {
  SilenceLibmsi();
  GError* error = nullptr;
  LibmsiDatabase* database = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error);
  if (database == nullptr) throw std::runtime_error("cannot open package " + path + ": " + TakeError(error));
  return std::make_shared<DatabaseConnection>(database);
}

std::shared_ptr<ViewObject> ViewObject::Open(std::shared_ptr<DatabaseConnection> connection, const std::string& sql,
                                             int* error) {
  GError* gerror = nullptr;
  LibmsiQuery* query = libmsi_query_new(connection->Get(), sql.c_str(), &gerror);
  if (query == nullptr) {
    g_clear_error(&gerror);
    // "Database: [2] OpenView failed for query: [3]"
    *error = 2251;
    return nullptr;
  }
  return std::shared_ptr<ViewObject>(new ViewObject(std::move(connection), query, sql));
}

ViewObject::~ViewObject() {
  if (query_ != nullptr) {
    libmsi_query_close(query_, nullptr);
    g_object_unref(query_);
  }
}

uint32_t ViewObject::Execute(const Record* parameters) {
  int needed = CountParameters(sql_);
  if (needed > 0 && (parameters == nullptr || static_cast<int>(parameters->FieldCount()) < needed)) {
    return ERROR_INVALID_PARAMETER;
  }
  LibmsiRecord* libParameters = nullptr;
  if (parameters != nullptr) {
    libParameters = libmsi_record_new(parameters->FieldCount());
    for (unsigned int field = 1; field <= parameters->FieldCount(); ++field) {
      if (parameters->IsNull(field)) continue;
      std::optional<int> number = parameters->Integer(field);
      if (number) {
        libmsi_record_set_int(libParameters, field, *number);
      } else {
        libmsi_record_set_string(libParameters, field, parameters->Text(field).c_str());
      }
    }
  }
  libmsi_query_close(query_, nullptr);
  GError* error = nullptr;
  bool ok = libmsi_query_execute(query_, libParameters, &error);
  if (libParameters != nullptr) g_object_unref(libParameters);
  g_clear_error(&error);
  if (!ok) return ERROR_FUNCTION_FAILED;
  executed_ = true;
  columnTypes_.clear();
  LibmsiRecord* types = libmsi_query_get_column_info(query_, LIBMSI_COL_INFO_TYPES, nullptr);
  if (types != nullptr) {
    for (unsigned int field = 1; field <= libmsi_record_get_field_count(types); ++field) {
      gchar* type = libmsi_record_get_string(types, field);
      char letter = type != nullptr ? static_cast<char>(std::tolower(static_cast<unsigned char>(type[0]))) : 's';
      columnTypes_ += letter == 'i' ? 'i' : 's';
      g_free(type);
    }
    g_object_unref(types);
  }
  return ERROR_SUCCESS;
}

uint32_t ViewObject::Fetch(std::shared_ptr<Record>* row) {
  if (!executed_) return ERROR_FUNCTION_FAILED;
  GError* error = nullptr;
  LibmsiRecord* fetched = libmsi_query_fetch(query_, &error);
  g_clear_error(&error);
  if (fetched == nullptr) return ERROR_NO_MORE_ITEMS;
  unsigned int count = libmsi_record_get_field_count(fetched);
  auto record = std::make_shared<Record>(count);
  for (unsigned int field = 1; field <= count; ++field) {
    if (libmsi_record_is_null(fetched, field)) continue;
    bool integer = field <= columnTypes_.size() && columnTypes_[field - 1] == 'i';
    if (integer) {
      record->SetInteger(field, libmsi_record_get_int(fetched, field));
    } else {
      gchar* text = libmsi_record_get_string(fetched, field);
      record->SetString(field, text != nullptr ? text : "");
      g_free(text);
    }
  }
  g_object_unref(fetched);
  *row = std::move(record);
  return ERROR_SUCCESS;
}

uint32_t ViewObject::Close() {
  if (!executed_) return ERROR_FUNCTION_FAILED;
  libmsi_query_close(query_, nullptr);
  executed_ = false;
  return ERROR_SUCCESS;
}

}  // namespace host
