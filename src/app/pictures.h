// The pictures of the splash, About and main windows, painted rather than
// shipped as files, so they scale to any size.
#pragma once

#include <QPixmap>

namespace keldo::app {

// A clock face over the product's colours: the main window's background.
QPixmap backgroundPicture(const QSize& size);
// The small clock of the splash and About windows.
QPixmap clockPicture(int side);
// The company mark of the splash and About windows.
QPixmap companyPicture(int side);

inline constexpr const char* kProductName = "Cronalto";
inline constexpr const char* kCompanyName = "Corvaldi Sistemas Inteligentes";
inline constexpr const char* kVersionText = "Versão 2.6.2";

} // namespace keldo::app
