// What the support console does with a statement, shared by its window and
// by keldoctl.
#pragma once

#include "dataset.h"

namespace keldo::db {

// Closes the query, makes the whole text its statement and executes it as a
// statement without rows. An empty text is an error; engine errors throw
// DbError with the engine's text.
void runSupportStatement(Query& qySQL, const QString& text);
// The same, for a SELECT whose rows the caller wants: opens the query.
void openSupportQuery(Query& qySQL, const QString& text);

} // namespace keldo::db
