#pragma once

class QString;
class QWidget;

// A modal box with one OK button. The text is shown as it is, never as markup,
// because it may carry bytes from the server or the method library.
void showPlainMessage(QWidget* parent, const QString& text);
