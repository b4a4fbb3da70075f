#pragma once

class QMessageBox;

// Shows box's informative text as it is and whole. Names of files and devices are never taken for
// markup: the box's own label for that text would guess, and take a name that begins with a tag
// for markup. A text too long or too wide for the screen, which the box would cut, goes whole into
// the box's details, which scroll and break a long name anywhere; the box shows its beginning.
// Call it once the informative text is set.
void showWhole(QMessageBox& box);
