#pragma once

class QCoreApplication;

// Puts the window's texts, and Qt's own (the standard buttons, the folder chooser), into the
// language of the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), where Morvex has a translation;
// otherwise they stay in English. Before the window is built: texts are taken when it is.
void installTranslations(QCoreApplication& application);
