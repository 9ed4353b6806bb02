#pragma once

// Helpers shared by the backup and the restore halves of TUBackPro (not a public header).

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace keldo::backup {

// An include or exclude line with a native folder under a mapped drive in "C:\..." form.
std::string catalogueSpec(std::string_view line);
// round(part * 100 / total); 100 when total is 0.
std::int32_t percentOf(std::int64_t part, std::int64_t total);
// The "c" format: "dd/mm/yyyy hh:nn:ss", the time left out at midnight exactly.
std::string formatDateTimeC(double dateTime);
double nowDateTime();
// A byte count as the backup summary shows it ("%6.0f", "%6.1fk", "%6.1fM").
std::string sizeText(double n);
// The result code of an exception (99 for anything outside the family).
std::int32_t familyCode(const std::exception& e);
// The result code a run ends with when `failure` ended it. A family code the
// operation never reports (`unreported`) and anything outside the family give
// 99; such a failure is handed back in `rethrow`, for the caller to raise again
// once its log is closed.
std::int32_t failureCode(std::exception_ptr failure, std::int32_t unreported,
                         std::exception_ptr& rethrow);

} // namespace keldo::backup
