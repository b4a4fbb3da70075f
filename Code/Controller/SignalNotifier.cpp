#include "SignalNotifier.h"

#include <QSocketNotifier>

SignalNotifier::SignalNotifier(process::QuitSignals quit, QObject* parent)
    : QObject(parent)
    , mSignals(std::move(quit))
    , mNotifier(new QSocketNotifier(mSignals.descriptor(), QSocketNotifier::Read, this))
{
    connect(mNotifier, &QSocketNotifier::activated, this, [this] {
        while (const std::optional<int> signal = mSignals.take())
            emit received(*signal);
    });
}
