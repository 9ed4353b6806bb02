// Body and header masks and date patterns of any shape, typed by an operator
// or stored in a damaged row: compiling and rendering must stay within the
// capacities of the line, the lead and the literals, whatever the widths
// (huge ones included: a run that allocates by the width fails on the
// fuzzer's memory and time limits) and values.
#include "exchange/layout_engine.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

using namespace keldo::exchange;

namespace {

QString take(const uint8_t*& data, size_t& size) {
    if (size == 0)
        return {};
    const size_t n = std::min<size_t>(data[0], size - 1);
    const QString s = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(n));
    data += n + 1;
    size -= n + 1;
    return s;
}

// Small widths as they are, negative ones too; the bytes beyond +-100 stand
// for the huge widths a damaged or hostile layout row may store, up to the
// ends of int, which must cost no more than the columns they fill.
int width(const uint8_t*& data, size_t& size) {
    if (size == 0)
        return 0;
    const int w = int(int8_t(data[0]));
    ++data;
    --size;
    if (w > 100)
        return std::numeric_limits<int>::max() / (128 - w);
    if (w < -100)
        return std::numeric_limits<int>::min() / (129 + w);
    return w;
}

void check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LayoutRow row;
    row.matriTam = width(data, size);
    row.nomeTam = width(data, size);
    row.empresaTam = width(data, size);
    row.matriAlign = take(data, size);
    row.matriBrancos = take(data, size);
    row.dataFormato = take(data, size);
    row.conteudo6 = take(data, size);
    row.cabecalhoMascara = take(data, size);
    row.corpoMascara = take(data, size);
    const QString matricula = take(data, size);
    const QString name = take(data, size);

    const CompiledMask m = compileBodyMask(row.corpoMascara);
    check(m.lead.size() <= kLeadLength && m.trail.size() <= kLiteralLength);
    check(m.fields.size() <= kMaxFieldRefs);
    for (const QString& l : m.literals)
        check(l.size() <= kLiteralLength);
    for (int f : m.fields)
        check(f >= 0 && f <= 9);

    const Separators sep{QLatin1Char('/'), QLatin1Char(':')};
    const QDateTime when(QDate(2026, 2, 28), QTime(23, 59, 58));
    const PunchValues v{name, matricula, name, name, when};
    const QString body = BodyRenderer(m, row, sep).render(v);
    check(body.size() <= kLineLength);
    // A width beyond a column's capacity renders as the capacity.
    LayoutRow capped = row;
    capped.nomeTam = std::min(row.nomeTam, kTextColumnLength);
    capped.empresaTam = std::min(row.empresaTam, kTextColumnLength);
    capped.matriTam = std::min(row.matriTam, 2 * kMatriculaLength);
    check(BodyRenderer(m, capped, sep).render(v) == body);
    check(body.startsWith(m.lead));
    check(renderHeaderLine(row, when, sep).size() <= kLineLength);
    // A pattern without letters is copied as it stands (separators aside).
    const QString formatted = formatDateTime(row.dataFormato, when, sep);
    bool letters = false;
    for (QChar c : row.dataFormato)
        letters = letters || c.isLetter();
    if (!letters && !row.dataFormato.isEmpty())
        check(formatted.size() == row.dataFormato.size());
    return 0;
}
