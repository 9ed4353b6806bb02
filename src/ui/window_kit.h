// What every window of the program does the same way: the fixed dialog frame
// and where it opens, the hourglass during long work, and the progress line
// of a long loop.
//
//   class TfmX : public ui::FixedDialog {
//       TfmX(QWidget* parent) : FixedDialog(parent) {
//           ... build the layout ...
//           finishLayout(ui::Placement::ScreenCentre, 520);
//       }
//   };
//
//   ui::BusyCursor busy(SpeedButton1); // hourglass, button off, until the scope ends
//   ui::ProgressDisplay progress(Label5, ProgressBar1);
//   progress.start();
//   job.progress = [&](qint64 n, qint64 m) { progress.show(n, m); };
//   run(job);
//   progress.finish();
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>

class QLabel;
class QProgressBar;

namespace keldo::ui {

// Where a window opens.
enum class Placement {
    ScreenCentre, // centred on the screen it opens on
    Designed,     // where the platform puts a dialog: over its parent
};

// Centres a top-level widget of its final size on its screen (the primary
// screen when it has none yet). A widget moved this way keeps the place when
// it is shown.
void centreOnScreen(QWidget* window);

// A dialog with a title, a close box and nothing else: no resizing, no
// maximise, no context help. Subclasses build their layout, then call
// finishLayout() once at the end of their constructor.
class FixedDialog : public QDialog {
    Q_OBJECT
public:
    explicit FixedDialog(QWidget* parent = nullptr);

    // Fixes the size at what the layout asks for, widened and heightened to
    // the minimums given, gives every hint of the window the program's hint
    // duration and places the window. Call it after the last widget exists:
    // the size is taken from the layout as it is at that moment.
    void finishLayout(Placement placement, int minimumWidth = 0, int minimumHeight = 0);
};

// The hourglass for as long as the guard lives, and optionally one widget
// (the button that started the work) disabled for as long. Guards nest: each
// takes back only the cursor it set, so an inner guard leaves the outer
// hourglass up. The destructor runs however the scope ends, an exception
// included.
class BusyCursor {
public:
    explicit BusyCursor(QWidget* disabledWhileBusy = nullptr);
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    // Gives the cursor (and the widget) back before the scope ends, e.g. to
    // show the result with the normal cursor. Later calls do nothing.
    void release();

private:
    QPointer<QWidget> widget_;
    bool held_ = true;
};

// Repainting the progress more often would cost more than the work of the loop.
inline constexpr int kRepaintIntervalMs = 50;
inline constexpr char kExportingText[] = "Exportando... %1/%2";

// The progress of a loop over `total` items, in a label ("Exportando... n/m")
// and a bar. Between repaints nothing is drawn and no event is processed;
// each repaint also lets the window process its events, so it stays drawn
// while the loop runs. The first count after start() and the count that
// reaches the total are always drawn; finish() draws the last count given
// and fills the bar.
class ProgressDisplay {
public:
    // `text` has %1 for the count and %2 for the total.
    ProgressDisplay(QLabel* label, QProgressBar* bar, int intervalMs = kRepaintIntervalMs,
                    const QString& text = QString::fromUtf8(kExportingText));

    // Empties the label and the bar, before the loop.
    void start();
    // One more item done: `done` of `total`.
    void show(qint64 done, qint64 total);
    // The loop ended normally.
    void finish();

private:
    void paint();

    QPointer<QLabel> label_;
    QPointer<QProgressBar> bar_;
    int intervalMs_;
    QString text_;
    qint64 done_ = 0;
    qint64 total_ = 0;
    QElapsedTimer sincePaint_;
};

} // namespace keldo::ui
