// Employee import files of any shape: the first 24 bytes give the six column
// settings (any 32-bit values, negative and huge included), the rest is the
// file. Every line must come out without its line end, every slice must lie
// inside its line, and the lines with their line ends must cover the file.
#include "exchange/employee_exchange.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace keldo::exchange;

namespace {

int take(const uint8_t*& data, size_t& size) {
    int32_t v = 0;
    const size_t n = std::min(size, sizeof v);
    std::memcpy(&v, data, n);
    data += n;
    size -= n;
    return v;
}

void checkInside(std::string_view line, std::string_view slice) {
    if (slice.empty())
        return;
    if (slice.data() < line.data() || slice.data() + slice.size() > line.data() + line.size())
        std::abort();
    if (slice.back() == ' ')
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImportColumns c;
    c.posNome = take(data, size);
    c.tamNome = take(data, size);
    c.posMat = take(data, size);
    c.tamMat = take(data, size);
    c.posCod = take(data, size);
    c.tamCod = take(data, size);

    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char*>(data), qsizetype(size));
    buffer.open(QIODevice::ReadOnly);
    std::string line;
    qint64 before = buffer.pos();
    while (readImportLine(buffer, line)) {
        // What a line gave up is its line end: LF, or CR LF.
        const qint64 taken = buffer.pos() - before;
        before = buffer.pos();
        if (line.find('\n') != std::string::npos || taken < qint64(line.size()) ||
            taken > qint64(line.size()) + 2)
            std::abort();
        checkInside(line, sliceColumn(line, c.posNome, c.tamNome));
        checkInside(line, sliceColumn(line, c.posMat, c.tamMat));
        checkInside(line, sliceColumn(line, c.posCod, c.tamCod));
        const ImportSlices s = sliceImportLine(line, c);
        (void)s;
    }
    if (buffer.pos() != qint64(size))
        std::abort();
    return 0;
}
