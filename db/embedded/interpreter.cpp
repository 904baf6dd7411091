// The embedded connection's batch interpreter: runs a batch statement by statement, each by
// the handler of its kind: queries (the batch's first result is kept, SELECT @v = … assigns,
// SELECT … INTO creates), data statements, DECLARE/SET, IF/WHILE/BEGIN … END/BREAK/
// CONTINUE/RETURN, EXEC ( text ) as a batch of its own, USE, SET options and the DDL the
// executor carries out. Every expression is evaluated by SQLite as a prepared SELECT.
// Each connection is used by one thread.
#include <sqlite3.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/client.h"
#include "db/embedded/connection.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded {

using internal::Unsupported;

namespace {

int ProgressHandler(void* p) {
  auto* deadline = static_cast<std::chrono::steady_clock::time_point*>(p);
  return std::chrono::steady_clock::now() > *deadline ? 1 : 0;
}

}  // namespace

Value EmbeddedConnection::Evaluate(CachedBatch& cb, const Expr& e, Frame& frame,
                                   const SqlType* cast_to) {
  // Every expression, a literal or parameter too, is evaluated by SQLite as "SELECT <expr>"
  // (prepared once per batch), so its conversions and errors are those of a statement.
  Compiled& c = GetCompiled(cb, &e, frame,
                            [&](Translator& t, Compiled&) { return t.Scalar(e, false, cast_to); });
  std::vector<std::vector<Value>> rows;
  Run(c, frame, nullptr, &rows);
  return rows.empty() || rows[0].empty() ? Value() : rows[0][0];
}

bool EmbeddedConnection::Test(CachedBatch& cb, const Expr& e, Frame& frame) {
  Compiled& c =
      GetCompiled(cb, &e, frame, [&](Translator& t, Compiled&) { return t.Scalar(e, true); });
  std::vector<std::vector<Value>> rows;
  Run(c, frame, nullptr, &rows);
  return !rows.empty() && !rows[0].empty() && rows[0][0].AsInteger() != 0;
}

ResultSet EmbeddedConnection::Execute(const std::string& sql, const std::vector<Param>& params,
                                      int timeout_seconds) {
  CountStatement();
  RefreshCatalog();
  timed_ = timeout_seconds > 0;
  if (timed_) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    sqlite3_progress_handler(db_, 10000, ProgressHandler, &deadline_);
  }
  ResultSet result;
  bool have_result = false;
  try {
    std::shared_ptr<CachedBatch> cb = GetBatch(sql);  // held: a nested EXEC may evict the cache
    Frame frame;
    frame.params = &params;
    if (cb->ast->statements.size() > 1)
      for (const StmtPtr& s : cb->ast->statements)
        if (s->kind == StmtKind::CreateView || s->kind == StmtKind::CreateFunction)
          throw DbError(std::string("'CREATE ") +
                        (s->kind == StmtKind::CreateView ? "VIEW" : "FUNCTION") +
                        "' must be the first statement in a query batch.");
    RunBatch(*cb, frame, result, have_result);
  } catch (...) {
    if (timed_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    timed_ = false;
    throw;
  }
  if (timed_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  timed_ = false;
  return result;
}

void EmbeddedConnection::RunBatch(CachedBatch& cb, Frame& frame, ResultSet& result,
                                  bool& have_result) {
  std::shared_ptr<const Batch> keep = cb.ast;
  for (const StmtPtr& s : keep->statements) {
    if (RunStatement(cb, *s, frame, result, have_result) == Flow::Return) break;
  }
}

EmbeddedConnection::Flow EmbeddedConnection::RunStatement(CachedBatch& cb, const Stmt& s,
                                                          Frame& frame, ResultSet& result,
                                                          bool& have_result) {
  switch (s.kind) {
    case StmtKind::Select:
      return RunSelect(cb, s.As<SelectStmt>(), frame, result, have_result);
    case StmtKind::Insert:
    case StmtKind::Update:
    case StmtKind::Delete:
      return RunWrite(cb, s, frame, result);
    case StmtKind::Declare:
      return RunDeclare(cb, s.As<DeclareStmt>(), frame);
    case StmtKind::SetVariable:
      return RunSetVariable(cb, s.As<SetVariableStmt>(), frame);
    case StmtKind::SetOption:
      return RunSetOption(s.As<SetOptionStmt>());
    case StmtKind::If:
      return RunIf(cb, s.As<IfStmt>(), frame, result, have_result);
    case StmtKind::While:
      return RunWhile(cb, s.As<WhileStmt>(), frame, result, have_result);
    case StmtKind::Break:
      return Flow::Break;
    case StmtKind::Continue:
      return Flow::Continue;
    case StmtKind::Block:
      return RunBlock(cb, s.As<BlockStmt>(), frame, result, have_result);
    case StmtKind::Return:
      return Flow::Return;
    case StmtKind::Print:
      Evaluate(cb, *s.As<PrintStmt>().value, frame, nullptr);
      return Flow::Normal;
    case StmtKind::Exec:
      return RunExec(cb, s.As<ExecStmt>(), frame, result, have_result);
    case StmtKind::Use:
      return RunUse(s.As<UseStmt>());
    case StmtKind::CreateTable:
      CreateTable(s.As<CreateTableStmt>(), frame);
      return Flow::Normal;
    case StmtKind::AlterTable:
      AlterTable(s.As<AlterTableStmt>(), frame);
      return Flow::Normal;
    case StmtKind::DropTable:
      DropTable(s.As<DropStmt>());
      return Flow::Normal;
    case StmtKind::Truncate:
      Truncate(s.As<TruncateStmt>());
      return Flow::Normal;
    case StmtKind::CreateView:
      CreateView(s.As<CreateViewStmt>());
      return Flow::Normal;
    case StmtKind::DropView:
      DropObject(s.As<DropStmt>(), "V", "view");
      return Flow::Normal;
    case StmtKind::CreateFunction:
      CreateFunction(s.As<CreateFunctionStmt>());
      return Flow::Normal;
    case StmtKind::DropFunction:
      DropObject(s.As<DropStmt>(), "FN", "function");
      return Flow::Normal;
    case StmtKind::CreateIndex:
      CreateIndex(s.As<CreateIndexStmt>());
      return Flow::Normal;
    case StmtKind::DropIndex:
      DropIndex(s.As<DropStmt>());
      return Flow::Normal;
    case StmtKind::CreateDatabase:
      CreateDatabase(s.As<CreateDatabaseStmt>());
      return Flow::Normal;
    case StmtKind::DropDatabase:
      DropDatabase(s.As<DropStmt>());
      return Flow::Normal;
  }
  Unsupported("statement");
}

// A query: SELECT … INTO creates and fills its table, SELECT @v = … assigns the last row's
// values, any other gives the batch's result (the first one; later ones are run and dropped).
EmbeddedConnection::Flow EmbeddedConnection::RunSelect(CachedBatch& cb, const SelectStmt& s,
                                                       Frame& frame, ResultSet& result,
                                                       bool& have_result) {
  const SelectCore& first = s.select->cores[0];
  if (!first.into.empty()) {
    SelectInto(cb, s, frame);
    return Flow::Normal;
  }
  bool assignment = false;
  for (const SelectItem& it : first.items) assignment = assignment || !it.assign_variable.empty();
  if (assignment) {
    Compiled& c = GetCompiled(cb, &s, frame, [&](Translator& t, Compiled& comp) {
      comp.assigned.clear();
      return t.AssignmentQuery(*s.select, &comp.assigned);
    });
    std::vector<std::vector<Value>> rows;
    Run(c, frame, nullptr, &rows);
    for (const auto& row : rows)
      for (std::size_t i = 0; i < c.assigned.size() && i < row.size(); ++i)
        frame.vars[c.assigned[i]].value = row[i];
    return Flow::Normal;
  }
  Compiled& c =
      GetCompiled(cb, &s, frame, [&](Translator& t, Compiled&) { return t.Query(*s.select); });
  if (!have_result) {
    Run(c, frame, &result);
    have_result = true;
  } else {
    std::vector<std::vector<Value>> discard;
    Run(c, frame, nullptr, &discard);
  }
  return Flow::Normal;
}

// INSERT, UPDATE or DELETE; the batch reports the rows it touched.
EmbeddedConnection::Flow EmbeddedConnection::RunWrite(CachedBatch& cb, const Stmt& s, Frame& frame,
                                                      ResultSet& result) {
  Compiled& c = GetCompiled(cb, &s, frame, [&](Translator& t, Compiled&) {
    if (s.kind == StmtKind::Insert) return t.Insert(s.As<InsertStmt>());
    if (s.kind == StmtKind::Update) return t.Update(s.As<UpdateStmt>());
    return t.Delete(s.As<DeleteStmt>());
  });
  Run(c, frame, nullptr);
  result.rows_affected = rowcount_;
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunDeclare(CachedBatch& cb, const DeclareStmt& s,
                                                        Frame& frame) {
  for (const Declaration& d : s.declarations) {
    std::string name = LowerAscii(d.name);
    if (frame.vars.count(name))
      throw DbError("The variable name '" + d.name +
                    "' has already been declared. Variable names must be unique within a query "
                    "batch or stored procedure.");
    Variable v;
    v.type = TypeFromSpec(d.type);
    frame.vars[name] = v;
    if (d.init) frame.vars[name].value = Evaluate(cb, *d.init, frame, &frame.vars[name].type);
  }
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunSetVariable(CachedBatch& cb,
                                                            const SetVariableStmt& s,
                                                            Frame& frame) {
  std::string name = LowerAscii(s.variable);
  auto it = frame.vars.find(name);
  if (it == frame.vars.end())
    throw DbError("Must declare the scalar variable \"" + s.variable + "\".");
  SqlType type = it->second.type;
  Value v = Evaluate(cb, *s.value, frame, &type);
  frame.vars[name].value = std::move(v);
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunSetOption(const SetOptionStmt& s) {
  static const std::map<std::string, bool> kAccepted = {{"NOCOUNT", false},
                                                        {"ANSI_NULLS", true},
                                                        {"QUOTED_IDENTIFIER", true},
                                                        {"ANSI_PADDING", true},
                                                        {"ANSI_WARNINGS", true},
                                                        {"ARITHABORT", false},
                                                        {"CONCAT_NULL_YIELDS_NULL", true},
                                                        {"XACT_ABORT", false},
                                                        {"ANSI_NULL_DFLT_ON", true},
                                                        {"NUMERIC_ROUNDABORT", false},
                                                        {"IMPLICIT_TRANSACTIONS", false}};
  auto it = kAccepted.find(s.option);
  if (it == kAccepted.end()) Unsupported("SET " + s.option);
  // Options whose OFF (or ON) would change meaning are refused rather than ignored.
  if (it->second && !s.on) Unsupported("SET " + s.option + " OFF");
  if (s.option == "IMPLICIT_TRANSACTIONS" && s.on) Unsupported("SET IMPLICIT_TRANSACTIONS ON");
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunIf(CachedBatch& cb, const IfStmt& s, Frame& frame,
                                                   ResultSet& result, bool& have_result) {
  if (Test(cb, *s.condition, frame))
    return RunStatement(cb, *s.then_branch, frame, result, have_result);
  if (s.else_branch) return RunStatement(cb, *s.else_branch, frame, result, have_result);
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunWhile(CachedBatch& cb, const WhileStmt& s,
                                                      Frame& frame, ResultSet& result,
                                                      bool& have_result) {
  while (Test(cb, *s.condition, frame)) {
    Flow f = RunStatement(cb, *s.body, frame, result, have_result);
    if (f == Flow::Break) break;
    if (f == Flow::Return) return f;
  }
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunBlock(CachedBatch& cb, const BlockStmt& s,
                                                      Frame& frame, ResultSet& result,
                                                      bool& have_result) {
  for (const StmtPtr& inner : s.body) {
    Flow f = RunStatement(cb, *inner, frame, result, have_result);
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

// EXEC (text): the text runs as a batch of its own (own variables), in the current
// database, which it may change only for itself.
EmbeddedConnection::Flow EmbeddedConnection::RunExec(CachedBatch& cb, const ExecStmt& s,
                                                     Frame& frame, ResultSet& result,
                                                     bool& have_result) {
  Value text = Evaluate(cb, *s.batch, frame, nullptr);
  // Nested EXECs count as nesting levels, as views and functions do in the translator.
  if (exec_depth_ >= kMaxNestingLevel) throw DbError(kNestingTooDeep);
  std::string saved_db = current_db_;
  ++exec_depth_;
  try {
    std::string inner_sql = text.AsString();
    std::shared_ptr<CachedBatch> inner = GetBatch(inner_sql);
    Frame inner_frame;
    RunBatch(*inner, inner_frame, result, have_result);
  } catch (...) {
    --exec_depth_;
    current_db_ = saved_db;
    throw;
  }
  --exec_depth_;
  current_db_ = saved_db;
  return Flow::Normal;
}

EmbeddedConnection::Flow EmbeddedConnection::RunUse(const UseStmt& s) {
  const std::string& name = s.database;
  if (EqualsNoCase(name, "master") || EqualsNoCase(name, "tempdb")) {
    current_db_ = LowerAscii(name);
    return Flow::Normal;
  }
  const DatabaseInfo* d = catalog_->FindDatabase(name);
  if (!d)
    throw DbError("Database '" + name +
                  "' does not exist. Make sure that the name is entered correctly.");
  current_db_ = d->name;
  return Flow::Normal;
}

}  // namespace zel::db::embedded
