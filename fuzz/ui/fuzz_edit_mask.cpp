// Masks and texts of any shape: a stored value read back through a mask must
// give a text of the mask's shape, and reading it again must not change it.
#include "ui/edit_mask.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using keldo::ui::EditMask;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t maskLen = std::min<size_t>(data[0] % 40, size - 1);
    const QString mask =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(maskLen));
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1 + maskLen),
                                           qsizetype(size - 1 - maskLen));
    EditMask m(mask);
    const QString edit = m.toEditText(text);
    if (!m.isNull() && edit.size() != m.length())
        std::abort();
    const QString once = m.toText(edit);
    const QString twice = m.toText(m.toEditText(once));
    if (once != twice)
        std::abort();
    (void)m.isComplete(text);
    (void)m.isBlank(text);
    (void)m.sections(text);
    (void)keldo::ui::readMaskedDate(text);
    (void)keldo::ui::readMaskedDateTime(text);
    (void)keldo::ui::normalizedHourMinute(text);
    return 0;
}
