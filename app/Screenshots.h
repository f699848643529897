#pragma once
// Pictures of the program's windows as a user sees them, for review and for tests.
#include <QImage>
#include <QString>

class QWidget;

// The window as it appears on screen: its content, transparent outside its region.
QImage GrabWindow(QWidget& window);

// Saves every window of the program as <folder>/<FormName>.png. Returns false and prints
// the reason when a picture cannot be written.
bool SaveScreenshots(const QString& folder);
