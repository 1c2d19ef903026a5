#include "host/package.h"

#include <fcntl.h>
#include <libmsi.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "host/msi_api.h"

#if defined(__SANITIZE_ADDRESS__)
#define VRIN_LEAK_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VRIN_LEAK_CHECKS 1
#endif
#endif
#ifdef VRIN_LEAK_CHECKS
#include <sanitizer/lsan_interface.h>
#endif

namespace host {

namespace {

// libmsi loses blocks it allocates while executing the CREATE TABLE and
// INSERT statements of a new package, although the query and the database
// are both released; under LeakSanitizer only those are left unreported.
bool ExecuteCreationStatement(LibmsiQuery* query, GError** error) {
#ifdef VRIN_LEAK_CHECKS
  __lsan::ScopedDisabler libmsiOwnBlocks;
#endif
  return libmsi_query_execute(query, nullptr, error);
}

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

// libmsi leaves a descriptor of every database file it opens open after the
// database is released; thousands of sessions (a fault sweep, a fuzzer) would
// run out of them. A descriptor takes the lowest free number: those free
// before libmsi opens a file that are open on it afterwards are that
// database's to close.
class NewDescriptors {
 public:
  NewDescriptors() {
    for (int descriptor = 0; free_.size() < kWatched && descriptor < kLimit; ++descriptor) {
      if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) free_.push_back(descriptor);
    }
  }
  // Those now open on the file at path, or on a file deleted since (one that
  // libmsi replaced while writing it).
  std::vector<int> OpenOn(const std::string& path) const {
    std::vector<int> open;
    struct stat file = {};
    const bool exists = stat(path.c_str(), &file) == 0;
    for (int descriptor : free_) {
      struct stat status = {};
      if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) continue;
      const bool same = exists && status.st_dev == file.st_dev && status.st_ino == file.st_ino;
      if (same || status.st_nlink == 0) open.push_back(descriptor);
    }
    return open;
  }

 private:
  static constexpr size_t kWatched = 4;
  static constexpr int kLimit = 4096;
  std::vector<int> free_;
};

void CloseAll(const std::vector<int>& descriptors) {
  for (int descriptor : descriptors) close(descriptor);
}

// The folder of this process's packages: in memory where the platform has
// one, made once, and removed when the process that made it ends (not when
// a child forked for a replay does).
class PackageFolder {
 public:
  static PackageFolder& Instance() {
    static PackageFolder folder;
    return folder;
  }
  ~PackageFolder() {
    std::error_code ignored;
    if (!path_.empty() && getpid() == owner_) std::filesystem::remove_all(path_, ignored);
  }
  PackageFolder(const PackageFolder&) = delete;
  PackageFolder& operator=(const PackageFolder&) = delete;

  // A name no package of this process or its children has had.
  std::string NewPath() {
    if (path_.empty()) throw std::runtime_error("cannot create a package folder");
    return path_ + "/package-" + std::to_string(getpid()) + "-" + std::to_string(++count_) + ".msi";
  }

 private:
  PackageFolder() : owner_(getpid()) {
    struct stat status = {};
    const char* temporary = std::getenv("TMPDIR");
    std::string parent = "/tmp";
    if (stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode)) {
      parent = "/dev/shm";
    } else if (temporary != nullptr && temporary[0] != '\0') {
      parent = temporary;
    }
    std::string pattern = parent + "/vrinpkg-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  std::string path_;
  pid_t owner_;
  unsigned count_ = 0;
};

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

// The table a single-table SELECT reads ("... FROM `T` ..."); empty for a
// join or a query it cannot read.
std::string SingleTable(const std::string& sql) {
  size_t pos = 0;
  char quote = 0;
  for (; pos < sql.size(); ++pos) {
    char c = sql[pos];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '`') {
      quote = c;
      continue;
    }
    bool boundary = pos == 0 || std::isspace(static_cast<unsigned char>(sql[pos - 1]));
    if (boundary && sql.size() - pos > 4 && strncasecmp(sql.c_str() + pos, "FROM", 4) == 0 &&
        std::isspace(static_cast<unsigned char>(sql[pos + 4]))) {
      break;
    }
  }
  pos += 4;
  while (pos < sql.size() && std::isspace(static_cast<unsigned char>(sql[pos]))) ++pos;
  std::string table;
  if (pos < sql.size() && sql[pos] == '`') {
    size_t close = sql.find('`', pos + 1);
    if (close == std::string::npos) return "";
    table = sql.substr(pos + 1, close - pos - 1);
    pos = close + 1;
  } else {
    while (pos < sql.size() &&
           (std::isalnum(static_cast<unsigned char>(sql[pos])) || sql[pos] == '_' || sql[pos] == '.')) {
      table += sql[pos++];
    }
  }
  while (pos < sql.size() && std::isspace(static_cast<unsigned char>(sql[pos]))) ++pos;
  if (pos < sql.size() && sql[pos] == ',') return "";
  return table;
}

// Runs a statement with the given fields of the record as its parameters,
// typed by the view's column letters; the number of rows it yields, -1 when
// it fails.
int Run(LibmsiDatabase* database, const std::string& sql, const Record& record, const std::vector<unsigned int>& fields,
        const std::string& types) {
  GError* error = nullptr;
  LibmsiQuery* query = libmsi_query_new(database, sql.c_str(), &error);
  if (query == nullptr) {
    g_clear_error(&error);
    return -1;
  }
  LibmsiRecord* parameters = libmsi_record_new(static_cast<unsigned int>(fields.size()));
  bool ok = true;
  for (unsigned int i = 0; i < fields.size() && ok; ++i) {
    unsigned int field = fields[i];
    if (record.IsNull(field)) continue;
    if (types[field - 1] == 'i') {
      std::optional<int> number = record.Integer(field);
      ok = number.has_value();
      if (ok) libmsi_record_set_int(parameters, i + 1, *number);
    } else {
      libmsi_record_set_string(parameters, i + 1, record.Text(field).c_str());
    }
  }
  int rows = -1;
  if (ok && libmsi_query_execute(query, parameters, &error)) {
    rows = 0;
    bool select = strncasecmp(sql.c_str(), "SELECT", 6) == 0;
    while (select) {
      LibmsiRecord* row = libmsi_query_fetch(query, nullptr);
      if (row == nullptr) break;
      g_object_unref(row);
      ++rows;
    }
  }
  g_clear_error(&error);
  g_object_unref(parameters);
  libmsi_query_close(query, nullptr);
  g_object_unref(query);
  return rows;
}

}  // namespace

std::shared_ptr<Package> Package::Build(const std::vector<std::string>& statements) {
  SilenceLibmsi();
  std::shared_ptr<Package> package(new Package(PackageFolder::Instance().NewPath(), true));
  NewDescriptors watch;
  GError* error = nullptr;
  LibmsiDatabase* database = libmsi_database_new(package->path_.c_str(), LIBMSI_DB_FLAGS_CREATE, nullptr, &error);
  if (database == nullptr) {
    CloseAll(watch.OpenOn(package->path_));
    throw std::runtime_error("cannot create package: " + TakeError(error));
  }
  for (const std::string& sql : statements) {
    LibmsiQuery* query = libmsi_query_new(database, sql.c_str(), &error);
    bool ok = query != nullptr && ExecuteCreationStatement(query, &error);
    if (query != nullptr) {
      libmsi_query_close(query, nullptr);
      g_object_unref(query);
    }
    if (!ok) {
      std::string message = TakeError(error);
      libmsi_database_commit(database, nullptr);
      g_object_unref(database);
      CloseAll(watch.OpenOn(package->path_));
      throw std::runtime_error("package statement failed (" + message + "): " + sql);
    }
  }
  bool committed = libmsi_database_commit(database, &error);
  g_object_unref(database);
  CloseAll(watch.OpenOn(package->path_));
  if (!committed) throw std::runtime_error("cannot write package: " + TakeError(error));
  return package;
}

std::shared_ptr<Package> Package::FromSql(const std::vector<std::string>& statements) {
  // A package never changes once built: roads that build the same one (every
  // replay of a sweep) share it. The most recent few are kept.
  constexpr size_t kKept = 16;
  static std::deque<std::pair<std::vector<std::string>, std::shared_ptr<Package>>> built;
  for (auto it = built.begin(); it != built.end(); ++it) {
    if (it->first == statements) {
      std::shared_ptr<Package> package = it->second;
      built.erase(it);
      built.emplace_front(statements, package);
      return package;
    }
  }
  std::shared_ptr<Package> package = Build(statements);
  built.emplace_front(statements, package);
  if (built.size() > kKept) built.pop_back();
  return package;
}

std::shared_ptr<Package> Package::Open(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) throw std::runtime_error("no package at " + path);
  return std::shared_ptr<Package>(new Package(path, false));
}

Package::~Package() {
  if (owned_) unlink(path_.c_str());
}

DatabaseConnection::~DatabaseConnection() {
  if (database_ != nullptr) g_object_unref(database_);
  CloseAll(leftDescriptors_);
}

std::shared_ptr<DatabaseConnection> DatabaseConnection::OpenReadOnly(const std::string& path) {
  SilenceLibmsi();
  NewDescriptors watch;
  GError* error = nullptr;
  LibmsiDatabase* database = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error);
  std::vector<int> left = watch.OpenOn(path);
  if (database == nullptr) {
    CloseAll(left);
    throw std::runtime_error("cannot open package " + path + ": " + TakeError(error));
  }
  return std::make_shared<DatabaseConnection>(database, std::move(left));
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
  ReadColumns(nullptr, &columnTypes_);
  rows_.clear();
  while (LibmsiRecord* fetched = libmsi_query_fetch(query_, &error)) {
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
    rows_.push_back(std::move(record));
  }
  g_clear_error(&error);
  libmsi_query_close(query_, nullptr);
  return ERROR_SUCCESS;
}

uint32_t ViewObject::Fetch(std::shared_ptr<Record>* row) {
  if (!executed_) return ERROR_FUNCTION_FAILED;
  if (rows_.empty()) return ERROR_NO_MORE_ITEMS;
  *row = std::move(rows_.front());
  rows_.pop_front();
  return ERROR_SUCCESS;
}

uint32_t ViewObject::Close() {
  if (!executed_) return ERROR_FUNCTION_FAILED;
  rows_.clear();
  executed_ = false;
  return ERROR_SUCCESS;
}

void ViewObject::ReadColumns(std::vector<std::string>* names, std::string* types) const {
  if (names != nullptr) {
    names->clear();
    if (LibmsiRecord* info = libmsi_query_get_column_info(query_, LIBMSI_COL_INFO_NAMES, nullptr)) {
      for (unsigned int field = 1; field <= libmsi_record_get_field_count(info); ++field) {
        gchar* name = libmsi_record_get_string(info, field);
        names->push_back(name != nullptr ? name : "");
        g_free(name);
      }
      g_object_unref(info);
    }
  }
  if (types != nullptr) {
    types->clear();
    if (LibmsiRecord* info = libmsi_query_get_column_info(query_, LIBMSI_COL_INFO_TYPES, nullptr)) {
      for (unsigned int field = 1; field <= libmsi_record_get_field_count(info); ++field) {
        gchar* type = libmsi_record_get_string(info, field);
        char letter = type != nullptr ? static_cast<char>(std::tolower(static_cast<unsigned char>(type[0]))) : 's';
        *types += letter == 'i' ? 'i' : 's';
        g_free(type);
      }
      g_object_unref(info);
    }
  }
}

uint32_t ViewObject::Modify(int mode, const Record& record) {
  if (mode != MSIMODIFY_INSERT_TEMPORARY && mode != MSIMODIFY_DELETE) return ERROR_FUNCTION_FAILED;
  std::string table = SingleTable(sql_);
  std::vector<std::string> names;
  std::string types;
  ReadColumns(&names, &types);
  if (table.empty() || names.empty() || names.size() != types.size()) return ERROR_FUNCTION_FAILED;

  // Values travel as parameters, so that no text needs quoting.
  std::vector<unsigned int> fields;
  std::string sql;
  if (mode == MSIMODIFY_INSERT_TEMPORARY) {
    std::string columns, markers;
    for (unsigned int field = 1; field <= names.size(); ++field) {
      columns += (field > 1 ? ", `" : "`") + names[field - 1] + "`";
      markers += field > 1 ? ", ?" : "?";
      fields.push_back(field);
    }
    sql = "INSERT INTO `" + table + "` (" + columns + ") VALUES (" + markers + ") TEMPORARY";
  } else {
    GError* error = nullptr;
    LibmsiRecord* keys = libmsi_database_get_primary_keys(connection_->Get(), table.c_str(), &error);
    g_clear_error(&error);
    if (keys == nullptr) return ERROR_FUNCTION_FAILED;
    std::string where;
    bool complete = true;
    for (unsigned int key = 1; key <= libmsi_record_get_field_count(keys); ++key) {
      gchar* name = libmsi_record_get_string(keys, key);
      std::string column = name != nullptr ? name : "";
      g_free(name);
      unsigned int field = 0;
      for (unsigned int i = 1; i <= names.size(); ++i) {
        if (names[i - 1] == column) field = i;
      }
      if (field == 0) {
        complete = false;
        break;
      }
      where += (where.empty() ? "`" : " AND `") + column + "`";
      if (record.IsNull(field)) {
        where += " IS NULL";
      } else {
        where += " = ?";
        fields.push_back(field);
      }
    }
    g_object_unref(keys);
    if (!complete || where.empty()) return ERROR_FUNCTION_FAILED;
    // Deleting a row that is not there fails, as on Windows.
    if (Run(connection_->Get(), "SELECT * FROM `" + table + "` WHERE " + where, record, fields, types) != 1) {
      return ERROR_FUNCTION_FAILED;
    }
    sql = "DELETE FROM `" + table + "` WHERE " + where;
  }
  return Run(connection_->Get(), sql, record, fields, types) >= 0 ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

}  // namespace host
