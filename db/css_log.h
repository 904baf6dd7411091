// CSSLog rows: the reported events of a run that the desktop clients show (a bad punch, a
// request that was skipped, a person that failed). Stateless functions; any thread may
// call them, each with a connection of its own thread.
#pragma once

#include <string>

#include "db/client.h"

namespace zel::db {

// Adds a row of status 0 dated now (Jalali date, HH:NN), the person number trimmed as the
// calculation writes it and the comment cut to the column's 255 characters. Raises DbError.
void InsertCSSLog(Connection& base, int schedule_id, const std::string& perno,
                  const std::string& comment);

// Adds the row only when CSSLog holds no row of the same person with the same (cut)
// comment, in one statement: a row that is kept back and met again on every pass is
// reported once, and again only when its reason (and so the comment) changes. Comments
// given here must therefore not carry the moment of the run. Returns whether a row was
// added. Raises DbError.
bool InsertCSSLogOnce(Connection& base, int schedule_id, const std::string& perno,
                      const std::string& comment);

}  // namespace zel::db
