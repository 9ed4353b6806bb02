// Statements typed at the support console and names typed by operators:
// the parameter splitter must keep every character that is not a parameter,
// and the folded key must order exactly as the name comparison does.
#include "db/collation.h"
#include "db/dataset.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const QString sql = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    QStringList names;
    const QString out = keldo::db::parseParams(sql, &names);
    // Each parameter ":name" became one '?'.
    qsizetype removed = 0;
    for (const QString& n : names)
        removed += n.size();
    if (out.size() != sql.size() - removed)
        abort();

    const size_t half = size / 2;
    const std::string_view a = bytes.substr(0, half), b = bytes.substr(half);
    const int c = keldo::db::compareFolded(a, b);
    const QByteArray ka = keldo::db::foldKey(a), kb = keldo::db::foldKey(b);
    const int k = ka < kb ? -1 : (kb < ka ? 1 : 0);
    if ((c < 0) != (k < 0) || (c == 0) != (k == 0))
        abort();
    return 0;
}
