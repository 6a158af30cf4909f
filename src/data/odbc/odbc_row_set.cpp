#include "data/odbc/odbc_row_set.h"

#include <optional>
#include <vector>

#include "data/sql_text.h"

namespace corvane::data {

namespace {

// Where an ODBC row set's rows come from: a statement whose current row is read, and how to
// move it on.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual OdbcStatement& statement() = 0;
  // Called once by the row set reading it, before its first row.
  virtual void Attach(BasicRowSet* /*reader*/) {}
  // Moves to the next row; false after the last. May run statements on the session.
  virtual bool Next() = 0;
  // Ends the result on the server where that takes a statement; may fail.
  virtual void Finish() {}
  // Lets go of the result; never runs a statement.
  virtual void Release() noexcept = 0;
};

// The result of a statement run for this row set alone.
class OwnedResult final : public RowSource {
 public:
  explicit OwnedResult(std::unique_ptr<OdbcStatement> statement)
      : statement_(std::move(statement)) {}
  OdbcStatement& statement() override { return *statement_; }
  bool Next() override { return statement_->Fetch(); }
  void Release() noexcept override { statement_.reset(); }

 private:
  std::unique_ptr<OdbcStatement> statement_;
};

// The result of one execution of a prepared statement, which stays prepared.
class PreparedResult final : public RowSource {
 public:
  explicit PreparedResult(std::shared_ptr<OdbcPreparedStatement> prepared)
      : prepared_(std::move(prepared)) {}
  OdbcStatement& statement() override { return *prepared_->statement; }
  void Attach(BasicRowSet* reader) override {
    reader_ = reader;
    prepared_->reader = reader;
  }
  bool Next() override { return prepared_->statement->Fetch(); }
  void Release() noexcept override {
    if (prepared_->reader != reader_) return;  // a newer execution owns the statement
    prepared_->statement->CloseCursor();
    prepared_->reader = nullptr;
  }

 private:
  std::shared_ptr<OdbcPreparedStatement> prepared_;
  BasicRowSet* reader_ = nullptr;
};

// A server-side cursor read piece by piece: the statement fetching a piece is executed again
// whenever a full piece has been read.
class CursorPieces final : public RowSource {
 public:
  CursorPieces(std::shared_ptr<OdbcSession> session, std::unique_ptr<OdbcStatement> fetcher,
               CursorStatements cursor)
      : session_(std::move(session)), fetcher_(std::move(fetcher)), cursor_(std::move(cursor)) {}
  OdbcStatement& statement() override { return *fetcher_; }
  bool Next() override {
    while (true) {
      if (fetcher_->Fetch()) {
        ++rows_in_piece_;
        return true;
      }
      if (rows_in_piece_ < cursor_.piece_rows) {
        Finish();
        return false;
      }
      rows_in_piece_ = 0;
      fetcher_->Execute({});
    }
  }
  void Finish() override {
    if (!open_ || !fetcher_ || session_->closed()) return;
    fetcher_->CloseCursor();
    open_ = false;
    session_->NewStatement()->ExecuteDirect(cursor_.close, {});
  }
  // A cursor left open (a row set closed before its end by a failure) ends with the session.
  void Release() noexcept override { fetcher_.reset(); }

 private:
  std::shared_ptr<OdbcSession> session_;
  std::unique_ptr<OdbcStatement> fetcher_;
  CursorStatements cursor_;
  std::size_t rows_in_piece_ = 0;
  bool open_ = true;
};

class OdbcRowSet final : public BasicRowSet {
 public:
  OdbcRowSet(std::shared_ptr<OdbcSession> session, std::unique_ptr<RowSource> source,
             OdbcColumns description, std::vector<bool> tinyint_flags)
      : BasicRowSet(std::move(description.columns)),
        session_(std::move(session)),
        source_(std::move(source)),
        sql_types_(std::move(description.sql_types)),
        tinyint_flags_(std::move(tinyint_flags)) {
    source_->Attach(this);
    Start();
  }
  ~OdbcRowSet() override { ReleaseEngine(); }

  void Close() override {
    {
      const BoundedWait wait = session_->StatementWait();
      source_->Finish();
    }
    BasicRowSet::Close();
  }

 protected:
  bool FetchRow(std::vector<Value>& row) override {
    if (sql_types_.empty()) return false;  // no query: nothing to read
    const BoundedWait wait = session_->StatementWait();
    session_->CheckOpen();
    if (!source_->Next()) return false;
    OdbcStatement& statement = source_->statement();
    for (std::size_t i = 0; i < sql_types_.size(); ++i) {
      row[i] = statement.ReadColumn(static_cast<SQLUSMALLINT>(i + 1), sql_types_[i]);
      if (tinyint_flags_[i] && row[i].is_integer()) row[i] = Value(row[i].integer() != 0);
    }
    return true;
  }
  std::vector<std::string> PrimaryKey(const std::string& schema,
                                      const std::string& table) override {
    return session_->PrimaryKey(schema, table);
  }
  long long WriteRow(const TableWrite& write) override {
    return session_->ExecuteWrite(UpdateStatementFor(
        write, [this](const std::string& name) { return session_->Quote(name); }));
  }
  void Release() noexcept override { source_->Release(); }
  void CheckConnection() const override { session_->CheckOpen(); }

 private:
  std::shared_ptr<OdbcSession> session_;
  std::unique_ptr<RowSource> source_;
  std::vector<SQLSMALLINT> sql_types_;
  std::vector<bool> tinyint_flags_;
};

// A row set over the result pending on `source`'s statement; `streams`: a cursor's pieces, which
// are never read whole.
std::unique_ptr<RowSet> ReadResult(const std::shared_ptr<OdbcSession>& session,
                                   std::unique_ptr<RowSource> source, bool streams) {
  OdbcColumns description = source->statement().Describe(session->profile().TextFlagTypeName());
  std::vector<bool> flags = session->TinyIntFlags(description);
  auto row_set = std::make_unique<OdbcRowSet>(session, std::move(source), std::move(description),
                                              std::move(flags));
  if (!streams && session->profile().result_holding() == ResultHolding::kReadWholeAtOnce) {
    row_set->TakeRemainingRows();
  }
  return row_set;
}

}  // namespace

std::unique_ptr<RowSet> OpenOdbcRowSet(const std::shared_ptr<OdbcSession>& session,
                                       const std::string& sql, std::span<const Value> parameters) {
  const BoundedWait wait = session->StatementWait();
  std::optional<CursorStatements> cursor;
  if (IsSelect(sql)) cursor = session->profile().Cursor(sql, session->NewCursorName());
  if (cursor) {
    session->NewStatement()->ExecuteDirect(cursor->open, parameters);
    auto fetcher = session->NewStatement();
    fetcher->Prepare(cursor->fetch);
    fetcher->Execute({});
    return ReadResult(
        session, std::make_unique<CursorPieces>(session, std::move(fetcher), std::move(*cursor)),
        true);
  }
  auto statement = session->NewStatement();
  statement->ExecuteDirect(sql, parameters);
  return ReadResult(session, std::make_unique<OwnedResult>(std::move(statement)), false);
}

std::unique_ptr<RowSet> OpenPreparedRowSet(const std::shared_ptr<OdbcSession>& session,
                                           const std::shared_ptr<OdbcPreparedStatement>& prepared,
                                           std::span<const Value> parameters) {
  if (prepared->reader != nullptr) prepared->reader->TakeRemainingRows();
  const BoundedWait wait = session->StatementWait();
  session->CheckOpen();
  prepared->statement->Execute(parameters);
  return ReadResult(session, std::make_unique<PreparedResult>(prepared), false);
}

}  // namespace corvane::data
