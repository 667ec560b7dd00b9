#pragma once
// The font the program's windows and dialogs are set in; their controls inherit it.

#include <QString>

namespace core::look {

inline QString windowFontFamily() { return QStringLiteral("Tahoma"); }
constexpr int kWindowFontPoints = 8;

}  // namespace core::look
