// Installation packages (.msi files) and the database, view and record
// handles over them. The SQL engine is libmsi, msitools' port of Wine's
// Windows Installer database code, so packages built with wixl or msibuild
// open as they would on Windows.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/handles.h"
#include "host/record.h"

typedef struct _LibmsiDatabase LibmsiDatabase;
typedef struct _LibmsiQuery LibmsiQuery;

namespace host {

// A package file. One built from SQL is this process's, in its package
// folder, and goes with the object.
class Package {
 public:
  // A package of CREATE TABLE and INSERT statements; throws
  // std::runtime_error naming the statement that failed.
  static std::shared_ptr<Package> FromSql(const std::vector<std::string>& statements);
  // An existing package file, such as one built by wixl.
  static std::shared_ptr<Package> Open(const std::string& path);
  ~Package();

  const std::string& Path() const { return path_; }

 private:
  Package(std::string path, bool owned) : path_(std::move(path)), owned_(owned) {}
  static std::shared_ptr<Package> Build(const std::vector<std::string>& statements);
  std::string path_;
  bool owned_;
};

// An open database; temporary rows live only in this connection.
class DatabaseConnection {
 public:
  // leftDescriptors: those libmsi leaves open on the file after the
  // database is released, closed with the connection.
  DatabaseConnection(LibmsiDatabase* database, std::vector<int> leftDescriptors)
      : database_(database), leftDescriptors_(std::move(leftDescriptors)) {}
  ~DatabaseConnection();
  DatabaseConnection(const DatabaseConnection&) = delete;
  DatabaseConnection& operator=(const DatabaseConnection&) = delete;
  // Opens a package read-only, as a session does; throws on failure.
  static std::shared_ptr<DatabaseConnection> OpenReadOnly(const std::string& path);
  LibmsiDatabase* Get() const { return database_; }

 private:
  LibmsiDatabase* database_;
  std::vector<int> leftDescriptors_;
};

class DatabaseObject : public HandleObject {
 public:
  explicit DatabaseObject(std::shared_ptr<DatabaseConnection> connection) : connection_(std::move(connection)) {}
  HandleKind Kind() const override { return HandleKind::kDatabase; }
  const std::shared_ptr<DatabaseConnection>& Connection() const { return connection_; }

 private:
  std::shared_ptr<DatabaseConnection> connection_;
};

class ViewObject : public HandleObject {
 public:
  // Opens a view; on failure returns null and sets *error to the installer's
  // internal error number (for the last error record).
  static std::shared_ptr<ViewObject> Open(std::shared_ptr<DatabaseConnection> connection, const std::string& sql,
                                          int* error);
  ~ViewObject() override;
  HandleKind Kind() const override { return HandleKind::kView; }
  const std::string& Sql() const { return sql_; }

  // Execute reads the whole result at once, so that rows deleted through the
  // view while it is fetched do not disturb the rows still to come.
  uint32_t Execute(const Record* parameters);
  // ERROR_SUCCESS with a row, ERROR_NO_MORE_ITEMS after the last one.
  uint32_t Fetch(std::shared_ptr<Record>* row);
  uint32_t Close();
  // MsiViewModify for MSIMODIFY_INSERT_TEMPORARY (the record's fields are the
  // view's columns; the row lives only in this connection) and
  // MSIMODIFY_DELETE (the row with the record's primary key), done with SQL on
  // the view's table; ERROR_FUNCTION_FAILED for a duplicate or missing row, a
  // view over several tables or without the key columns, and other modes.
  uint32_t Modify(int mode, const Record& record);

 private:
  ViewObject(std::shared_ptr<DatabaseConnection> connection, LibmsiQuery* query, std::string sql)
      : connection_(std::move(connection)), query_(query), sql_(std::move(sql)) {}
  std::shared_ptr<DatabaseConnection> connection_;
  LibmsiQuery* query_;
  std::string sql_;
  // Column names and one letter per column: 's' string, 'i' integer.
  void ReadColumns(std::vector<std::string>* names, std::string* types) const;
  std::string columnTypes_;
  bool executed_ = false;
  std::deque<std::shared_ptr<Record>> rows_;
};

}  // namespace host
