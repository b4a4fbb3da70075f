#include "QuitSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t quitSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void QuitSignals::block()
{
    const sigset_t set = quitSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    const sigset_t set = quitSignals();
    mDescriptor = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (mDescriptor < 0) {
        mError = tr("Cannot watch for SIGINT and SIGTERM: %1.")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    mNotifier = new QSocketNotifier(mDescriptor, QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &QuitSignals::readSignal);
}

QuitSignals::~QuitSignals()
{
    delete mNotifier;
    if (mDescriptor >= 0)
        ::close(mDescriptor);
}

void QuitSignals::readSignal()
{
    signalfd_siginfo info {};
    while (::read(mDescriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        emit received(static_cast<int>(info.ssi_signo));
}
