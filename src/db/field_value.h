// Conversion of values to what a field of a type holds, shared by the field
// writes and the finds of the datasets. Not part of the dataset interface.
#pragma once

#include "schema_types.h"

#include <QVariant>

namespace keldo::db {

// The value as a field of `f`'s type holds it: an empty text is an empty
// field, text is cut to the field's width, dates and times are read in the
// program's forms. Throws DbError "'x' não é um valor válido para o campo
// 'y'." when it does not convert.
QVariant coerce(const QVariant& v, const FieldDef& f);

} // namespace keldo::db
