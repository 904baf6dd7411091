// The texts of the statements the calculations prepare, kept as one table of named entries
// (the name of the statement corpus entry that holds the text, with "/<what>" where that
// entry holds several), each with its lines, its parameters' declared types and its command
// timeout; and the preparation of a dataset from an entry. Marks of the form $Name$ in a
// text stand for what differs between runs (a database or table name) and are filled when
// the dataset is prepared, e.g.
//   Prepare(q, "MealWindowsOfTheYear", {{"$Base$", "Att"}})
// sets the text "Select * from Att..Meals \nOrder By BeginTime".
// The table is constant; any thread may read it. A dataset is prepared by its owner's thread.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/client.h"

namespace zel::engine {

// A named parameter's declared type (size: the declared length of a text, 0 for a number).
struct ParamDecl {
  const char* name;
  db::ParamType type;
  int size;
};

struct StatementText {
  const char* name;  // "<corpus entry>" or "<corpus entry>/<what>"
  std::initializer_list<const char*> lines;
  std::initializer_list<ParamDecl> params;
  int timeout_seconds = 0;  // 0: the connection's own
};

// What a mark of a text stands for, e.g. {"$Year$", "Att_1399"}.
struct TextFill {
  std::string_view mark;
  std::string_view value;
};

// Every entry of the table.
std::span<const StatementText> Statements();

// The entry of the name. Raises std::logic_error when the table has none.
const StatementText& StatementNamed(std::string_view name);

// The entry's lines with every mark replaced by its value.
std::vector<std::string> StatementLines(const StatementText& statement,
                                        const std::vector<TextFill>& fills = {});

// Sets the text of the named entry on the query (marks filled), declares its parameters and
// sets its command timeout.
void Prepare(db::Dataset& query, std::string_view name, const std::vector<TextFill>& fills = {});

}  // namespace zel::engine
