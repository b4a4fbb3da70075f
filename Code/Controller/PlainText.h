#pragma once

class QMessageBox;
class QString;

// Names of files, folders and devices come from outside, and are shown as they are: never taken
// for markup. Qt guesses the format of a message box's text and of a tooltip, and takes a name
// that begins with a tag for markup.

// Shows box's informative text as it is and whole. A text too long or too wide for the screen,
// which the box would cut, goes whole into the box's details, which scroll and break a long name
// anywhere; the box shows its beginning. Call it once the informative text is set.
void showWhole(QMessageBox& box);

// A tooltip that shows text as it is: text itself, unless Qt would take it for markup, which is
// then escaped.
QString plainToolTip(const QString& text);
