#pragma once

// Hints (tool tips) of the program stay up for a minute, long enough to read
// the longer Portuguese ones, instead of Qt's length-based few seconds.

class QApplication;
class QWidget;

namespace keldo::ui {

inline constexpr int kHintDurationMs = 60000;

// Every widget of the application, present and future, that has not chosen a
// duration of its own: call once, after the QApplication exists.
void installHintDuration(QApplication* app, int msec = kHintDurationMs);

// The widget and every child it has now.
void setHintDuration(QWidget* root, int msec = kHintDurationMs);

} // namespace keldo::ui
