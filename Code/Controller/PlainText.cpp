#include "PlainText.h"

#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QTextDocument>
#include <algorithm>

namespace {

// Lines of a long text that the box shows before its details.
constexpr int Int_LinesShown = 8;

} // namespace

void showWhole(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
    // The name Qt gives the label that setInformativeText makes.
    auto* said = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (!said)
        return;
    said->setTextFormat(Qt::PlainText);
    const QRect screen = box.screen()->availableGeometry();
    // The width the box takes before it widens for its text.
    const int width = std::min(screen.width() / 2, 500);
    const QFontMetrics metrics(said->font());
    const QString text = said->text();
    const QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")));
    const bool fits = said->heightForWidth(width) <= screen.height() / 2
        && std::ranges::all_of(
            words, [&](const QString& word) { return metrics.horizontalAdvance(word) <= width; });
    if (fits)
        return;
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList shown;
    for (const QString& line : lines.mid(0, Int_LinesShown))
        shown << metrics.elidedText(line, Qt::ElideMiddle, width);
    if (lines.size() > Int_LinesShown)
        shown << QStringLiteral("…");
    box.setDetailedText(text);
    box.setInformativeText(shown.join(QLatin1Char('\n')));
}

QString plainToolTip(const QString& text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text) : text;
}
