#pragma once

class QMessageBox;

// Names of files and devices are shown as they are, never as markup: the box's text, and its
// informative text, whose label of its own the box would otherwise leave to guess the format and
// take a name that begins with a tag for markup. Call it once the informative text is set.
void showAsPlainText(QMessageBox& box);
