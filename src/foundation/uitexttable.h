#pragma once
// The UI text table: 600 rows of operator texts in three columns, Simplified
// Chinese (0), English (1) and Traditional Chinese (2). Element (row, column)
// sits at gaLanStr[row * kUiTextColumns + column]; code reads the column of
// the current language, `gLan` (foundation/qstring_tl.h).
//
// The table is empty until start-up calls InitData once on the main thread,
// before anything that reads it exists; afterwards it is only read, from any
// thread, without a lock.
#include <QString>

constexpr int kUiTextRows = 600;
constexpr int kUiTextColumns = 3;

extern QString gaLanStr[kUiTextRows * kUiTextColumns];

// Fills rows 0 to 582 of the table from their UTF-8 texts; rows without a
// text (and rows 583 to 599) stay empty. Cannot fail.
void InitData();

// Bounds-checked read of one element; a row or column outside the table gives
// the empty string instead of reading past the array.
QString uiText(int row, int column);
// The element of `row` in the current language column `gLan`.
QString uiText(int row);
