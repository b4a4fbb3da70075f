#include "ProgressSheet.h"

ProgressSheet::ProgressSheet(QWidget* parent)
    : QDialog(parent)
{
    setWindowModality(Qt::WindowModal);
}

void ProgressSheet::reject()
{
    emit cancelRequested();
}
