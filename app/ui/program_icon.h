#pragma once
// The program icon: the installed theme's, else the copy built into the program.

#include <QIcon>

namespace kestrelle {

// The desktop entry's name, which is also the icon's name in the icon theme.
inline constexpr const char* kDesktopFileName = "org.example.Kestrelle";

QIcon programIcon();

}  // namespace kestrelle
