// The stored statement texts of the transfer module, as lines, with their placeholders
// ("Zel_85.." for the year database, "Zel.." for the base database, "##TmpTableName" for
// the person table of the run) still in them, and the replacing of those placeholders.
// Pure functions over constant texts: any thread may call them.
#pragma once

#include <string>
#include <vector>

namespace zel::transfer {

using TextLines = std::vector<std::string>;

// The punch pairing query: six blocks (yesterday, today, tomorrow; calendar groups, then
// shift groups) joined by "union all", over the persons from :FirstPerno to :LastPerno. A
// punch finds its work rule through #PrjCards (QPrjCardsText) by its trimmed card number.
TextLines QConfirmIOText();
// The work rules by trimmed card number, one statement a line: a rule with two cards is
// there twice. The session's table #PrjCards, indexed by card, so the pairing query finds a
// punch's rule by a lookup instead of trimming every rule's cards for every punch; it
// returns the rows a join on the trimmed cards of PrjRule returns.
TextLines QPrjCardsText();
// The special-card query: every special-card punch with its neighbours and calendar days.
// For the embedded engine (`embedded`) the numbering table keeps the punch numbers as int
// rather than char(9): the same rows, but a text-to-number conversion on every comparison of
// the numbering join keeps the engine from indexing it, which made the query quadratic in the
// punches of the year (seconds per thousand punches).
TextLines QPermissionDemarkText(bool embedded = false);
// Untransferred punches, and their deletion.
TextLines QClockDmpText();
TextLines QClockDmpDeleteText();
// The drop-if-exists batches and the definitions of decDate, incDate and FirstIO.
TextLines FunctionDropBatches();
TextLines QFncDecDateText();
TextLines QFncIncDateText();
TextLines QFncFirstIOText();
// Columns the transfer adds to the intermediate tables when missing, one statement a line.
TextLines QUpdateTablesText();

// Every placeholder of the lines replaced, line by line: "Zel_85" by the year database,
// "Zel.." by the base database followed by "..", "##TmpTableName" by the person table.
TextLines ReplacePlaceholders(TextLines lines, const std::string& DataBaseName,
                              const std::string& cnCurrentYear, const std::string& TempFileName);

}  // namespace zel::transfer
