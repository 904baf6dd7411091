// The parser's schema statements: CREATE TABLE/VIEW/FUNCTION/INDEX/DATABASE, ALTER TABLE,
// DROP and TRUNCATE TABLE, with column definitions and constraints; storage clauses
// are skipped.
// Pure functions; any thread.
#include <optional>
#include <string>

#include "db/client.h"
#include "db/embedded/parser_internal.h"
#include "db/embedded/translator_internal.h"
#include "util/parse_int.h"

namespace zel::db::embedded::internal {

StmtPtr Parser::TruncateStatement() {
  ++pos_;
  ExpectWord("TABLE");
  auto s = std::make_unique<TruncateStmt>();
  s->target = ParseObjectName();
  return s;
}

StmtPtr Parser::CreateStatement() {
  ExpectWord("CREATE");
  if (AcceptWord("TABLE")) {
    auto s = std::make_unique<CreateTableStmt>();
    s->target = ParseObjectName();
    ExpectOp("(");
    do {
      if (IsOp(")")) break;  // trailing comma
      ParseTableElement(s->column_defs, s->constraints);
    } while (AcceptOp(","));
    ExpectOp(")");
    SkipStorageClauses();
    return s;
  }
  if (AcceptWord("VIEW")) {
    auto s = std::make_unique<CreateViewStmt>();
    s->target = ParseObjectName();
    if (IsOp("(")) Unsupported("CREATE VIEW with a column list");
    if (IsWord("WITH")) Unsupported("CREATE VIEW WITH options");
    ExpectWord("AS");
    s->select = ParseSelect();
    if (IsWord("WITH")) Unsupported("WITH CHECK OPTION");
    return s;
  }
  if (AcceptWord("FUNCTION")) return FunctionDefinition();
  if (AcceptWord("DATABASE")) {
    auto s = std::make_unique<CreateDatabaseStmt>();
    s->name = ExpectName();
    if (!At(TokenKind::End) && !IsOp(";") && !IsStatementStart())
      Unsupported("CREATE DATABASE options");
    return s;
  }
  bool unique = AcceptWord("UNIQUE");
  if (AcceptWord("CLUSTERED") || AcceptWord("NONCLUSTERED")) {
  }
  if (AcceptWord("INDEX")) {
    auto s = std::make_unique<CreateIndexStmt>();
    s->unique = unique;
    s->name = ExpectName();
    ExpectWord("ON");
    s->target = ParseObjectName();
    ExpectOp("(");
    do {
      s->columns.push_back(ExpectName());
      if (!AcceptWord("ASC")) AcceptWord("DESC");
    } while (AcceptOp(","));
    ExpectOp(")");
    if (IsWord("INCLUDE") || IsWord("WHERE")) Unsupported("CREATE INDEX " + Cur().upper);
    SkipStorageClauses();
    return s;
  }
  if (At(TokenKind::Identifier)) Unsupported("CREATE " + Cur().upper);
  SyntaxError();
}

StmtPtr Parser::FunctionDefinition() {
  auto s = std::make_unique<CreateFunctionStmt>();
  s->target = ParseObjectName();
  ExpectOp("(");
  if (!IsOp(")")) {
    do {
      Declaration d;
      if (!At(TokenKind::Variable)) SyntaxError();
      d.name = toks_[pos_++].text;
      AcceptWord("AS");
      d.type = ParseType();
      if (AcceptOp("=")) d.init = ParseExpr();
      s->params.push_back(std::move(d));
    } while (AcceptOp(","));
  }
  ExpectOp(")");
  ExpectWord("RETURNS");
  if (IsWord("TABLE") || At(TokenKind::Variable)) Unsupported("table-valued function");
  s->returns = ParseType();
  if (AcceptWord("WITH")) {
    do {
      ExpectName();
    } while (AcceptOp(","));
  }
  ExpectWord("AS");
  if (!IsWord("BEGIN")) {
    if (IsWord("RETURN")) {
      s->body.push_back(ParseStatement());
      return s;
    }
    SyntaxError();
  }
  ++pos_;
  s->body = StatementsUntilEnd();
  return s;
}

void Parser::SkipStorageClauses() {
  while (true) {
    if (AcceptWord("ON")) {
      ExpectName();
      if (AcceptOp("(")) {
        ExpectName();
        ExpectOp(")");
      }
      continue;
    }
    if (AcceptWord("TEXTIMAGE_ON")) {
      ExpectName();
      continue;
    }
    if (IsWord("WITH") && PeekOp(1, "(")) {
      pos_ += 2;
      int depth = 1;
      while (depth > 0 && !At(TokenKind::End)) {
        if (IsOp("(")) ++depth;
        if (IsOp(")")) --depth;
        ++pos_;
      }
      continue;
    }
    break;
  }
}

// One element of a table's definition: a table constraint or a column.
void Parser::ParseTableElement(std::vector<ColumnDefinition>& columns,
                               std::vector<TableConstraint>& constraints) {
  if (IsWord("CONSTRAINT") || IsWord("PRIMARY") || IsWord("UNIQUE") || IsWord("FOREIGN") ||
      IsWord("CHECK"))
    constraints.push_back(ParseTableConstraint());
  else
    columns.push_back(ParseColumnDef());
}

TableConstraint Parser::ParseTableConstraint() {
  TableConstraint c;
  if (AcceptWord("CONSTRAINT")) c.name = ExpectName();
  if (AcceptWord("PRIMARY")) {
    ExpectWord("KEY");
    c.kind = ConstraintKind::PrimaryKey;
  } else if (AcceptWord("UNIQUE")) {
    c.kind = ConstraintKind::Unique;
  } else if (IsWord("FOREIGN")) {
    Unsupported("FOREIGN KEY constraint");
  } else if (IsWord("CHECK")) {
    Unsupported("CHECK constraint");
  } else if (IsWord("DEFAULT")) {
    Unsupported("table-level DEFAULT constraint");
  } else {
    SyntaxError();
  }
  if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
  ExpectOp("(");
  do {
    c.columns.push_back(ExpectName());
    if (!AcceptWord("ASC")) AcceptWord("DESC");
  } while (AcceptOp(","));
  ExpectOp(")");
  SkipStorageClauses();
  return c;
}

ColumnDefinition Parser::ParseColumnDef() {
  ColumnDefinition d;
  d.name = ExpectName();
  if (IsWord("AS")) Unsupported("computed column");
  d.type = ParseType();
  while (true) {
    if (AcceptWord("IDENTITY")) {
      d.identity = true;
      if (AcceptOp("(")) {
        d.seed = ParseSignedInteger();
        ExpectOp(",");
        d.increment = ParseSignedInteger();
        ExpectOp(")");
      }
      d.nullable = false;
      continue;
    }
    if (AcceptWord("NOT")) {
      if (AcceptWord("FOR")) {
        ExpectWord("REPLICATION");
        continue;
      }
      ExpectWord("NULL");
      d.nullable = false;
      continue;
    }
    if (AcceptWord("NULL")) {
      d.nullable = true;
      d.explicit_null = true;
      continue;
    }
    if (AcceptWord("COLLATE")) {
      std::string coll = UpperAscii(ExpectName());
      if (coll.find("_CS") != std::string::npos || coll.find("BIN") != std::string::npos)
        Unsupported("case-sensitive collation " + coll);
      continue;
    }
    if (AcceptWord("ROWGUIDCOL") || AcceptWord("SPARSE")) continue;
    std::string cname;
    if (AcceptWord("CONSTRAINT")) cname = ExpectName();
    if (AcceptWord("DEFAULT")) {
      d.default_value = ParseExpr();
      d.default_name = cname;
      continue;
    }
    if (AcceptWord("PRIMARY")) {
      ExpectWord("KEY");
      if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
      d.primary_key = true;
      d.constraint_name = cname;
      d.nullable = false;
      continue;
    }
    if (AcceptWord("UNIQUE")) {
      if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
      d.unique = true;
      if (d.constraint_name.empty()) d.constraint_name = cname;
      continue;
    }
    if (IsWord("REFERENCES") || IsWord("FOREIGN")) Unsupported("FOREIGN KEY constraint");
    if (IsWord("CHECK")) Unsupported("CHECK constraint");
    if (!cname.empty()) SyntaxError();
    break;
  }
  return d;
}

long long Parser::ParseSignedInteger() {
  bool neg = AcceptOp("-");
  // A seed or increment is a whole number that fits a bigint; "1.5" or a longer number is
  // refused where it stands rather than cut or let through as a foreign exception.
  if (!At(TokenKind::Number)) SyntaxError();
  const std::optional<long long> v = util::ParseInt<long long>(Cur().text);
  if (!v) SyntaxError();
  ++pos_;
  return neg ? -*v : *v;
}

StmtPtr Parser::AlterStatement() {
  ExpectWord("ALTER");
  if (IsWord("DATABASE")) {
    std::string what = "ALTER DATABASE";
    for (int k = 2; k < 8; ++k) {
      if (PeekWord(k, "OFFLINE") || PeekWord(k, "ONLINE")) {
        what += " … " + Peek(k).upper;
        break;
      }
    }
    throw DbError(what + " is not supported by the embedded engine.");
  }
  if (!AcceptWord("TABLE")) {
    if (At(TokenKind::Identifier)) Unsupported("ALTER " + Cur().upper);
    SyntaxError();
  }
  auto s = std::make_unique<AlterTableStmt>();
  s->target = ParseObjectName();
  if (AcceptWord("ADD")) {
    s->action = AlterAction::Add;
    do {
      ParseTableElement(s->column_defs, s->constraints);
    } while (AcceptOp(","));
    return s;
  }
  if (AcceptWord("DROP")) {
    if (AcceptWord("CONSTRAINT")) {
      s->action = AlterAction::DropConstraint;
    } else {
      AcceptWord("COLUMN");
      s->action = AlterAction::DropColumn;
    }
    if (IsWord("IF")) Unsupported("DROP … IF EXISTS inside ALTER TABLE");
    do {
      s->drop_names.push_back(ExpectName());
    } while (AcceptOp(","));
    return s;
  }
  if (AcceptWord("ALTER")) {
    ExpectWord("COLUMN");
    s->action = AlterAction::AlterColumn;
    s->column_defs.push_back(ParseColumnDef());
    return s;
  }
  if (At(TokenKind::Identifier)) Unsupported("ALTER TABLE " + Cur().upper);
  SyntaxError();
}

StmtPtr Parser::DropStatement() {
  ExpectWord("DROP");
  StmtKind kind;
  if (AcceptWord("TABLE")) {
    kind = StmtKind::DropTable;
  } else if (AcceptWord("VIEW")) {
    kind = StmtKind::DropView;
  } else if (AcceptWord("FUNCTION")) {
    kind = StmtKind::DropFunction;
  } else if (AcceptWord("INDEX")) {
    kind = StmtKind::DropIndex;
  } else if (AcceptWord("DATABASE")) {
    kind = StmtKind::DropDatabase;
  } else {
    if (At(TokenKind::Identifier)) Unsupported("DROP " + Cur().upper);
    SyntaxError();
  }
  auto s = std::make_unique<DropStmt>(kind);
  if (IsWord("IF") && PeekWord(1, "EXISTS")) {
    pos_ += 2;
    s->if_exists = true;
  }
  do {
    ObjectName n = ParseObjectName();
    if (s->kind == StmtKind::DropIndex && AcceptWord("ON")) {
      ObjectName table = ParseObjectName();
      table.parts.push_back(n.last());
      n = table;
    }
    s->names.push_back(std::move(n));
  } while (AcceptOp(","));
  return s;
}

}  // namespace zel::db::embedded::internal
