#include "PlainMessageBox.h"

#include <QLabel>
#include <QMessageBox>

void showAsPlainText(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
    // The name Qt gives the label that setInformativeText makes.
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
}
