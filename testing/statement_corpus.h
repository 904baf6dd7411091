// Test support: the statement texts of the corpus files (db/corpus/*.corpus) and the one
// normalisation under which a text the modules send counts as the same statement as a
// corpus text: named parameters as "?", every quoted literal as '?', every run of digits as
// "#" (values, years in database names), every run of white space as one blank, and a row
// of VALUES repeated after itself written once (a batched insert of any number of rows).
// Pure functions and file reads without shared state: any thread may call them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zel::testing {

struct CorpusStatement {
  std::string file;  // file name and line of its @statement or @dataset directive
  int line = 0;
  std::string text;   // the lines of its block joined by "\n"
  std::string entry;  // the name of the @entry it belongs to
};

// The @statement and @dataset texts of every *.corpus file of the folder (a dataset on a
// table is "SELECT * FROM <table>", as the dataset opens it). Raises std::runtime_error when
// the folder cannot be read.
std::vector<CorpusStatement> LoadCorpusStatements(const std::filesystem::path& folder);

// The statement's shape: see the header comment.
std::string NormalizeStatement(std::string_view sql);

// Whether the text is one the client layer builds itself to write a dataset's edited rows
// back (the column probe "SELECT * FROM t WHERE 1 = 0", "INSERT INTO t ([c], ...) VALUES
// (?, ...)", "SELECT COUNT(*) FROM t WHERE [k] = ? ...", "UPDATE t SET [c] = ? ... WHERE
// [k] = ? ..."), not a text of a module: the corpus covers those through its dataset edits.
bool IsRowWriteBackText(std::string_view sql);

}  // namespace zel::testing
