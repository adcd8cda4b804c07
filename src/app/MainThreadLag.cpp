#include "app/MainThreadLag.h"

#include <QFile>

#include <algorithm>

namespace talvora {

MainThreadLag::MainThreadLag(QString reportPath, QObject* parent)
    : QObject(parent), m_reportPath(std::move(reportPath)) {
    m_lagsUs.reserve(1 << 20);
    m_clock.start();
    m_every.setInterval(kSampleEveryMs);
    connect(&m_every, &QTimer::timeout, this, &MainThreadLag::sample);
    m_every.start();
}

void MainThreadLag::pictureShown() {
    if (m_pictures++ == 0) {
        m_lagsUs.clear();
        m_clock.restart();
    }
}

void MainThreadLag::sample() {
    if (m_waiting) {
        return; // the last sample has not fired yet: it is late, and it will say how late
    }
    m_waiting = true;
    const qint64 askedUs = m_clock.nsecsElapsed() / 1000;
    QTimer::singleShot(0, this, [this, askedUs] {
        m_waiting = false;
        m_lagsUs.push_back(m_clock.nsecsElapsed() / 1000 - askedUs);
    });
}

MainThreadLag::~MainThreadLag() {
    std::vector<qint64> lags = m_lagsUs;
    std::sort(lags.begin(), lags.end());
    const auto at = [&](double q) {
        return lags.empty() ? 0.0 : double(lags[std::size_t(q * double(lags.size() - 1))]) / 1000.0;
    };
    QFile out(m_reportPath);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        out.write(QStringLiteral("samples %1 p50_ms %2 p99_ms %3 max_ms %4 pictures %5 seconds %6\n")
                      .arg(lags.size())
                      .arg(at(0.5), 0, 'f', 2)
                      .arg(at(0.99), 0, 'f', 2)
                      .arg(lags.empty() ? 0.0 : double(lags.back()) / 1000.0, 0, 'f', 2)
                      .arg(m_pictures)
                      .arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1)
                      .toUtf8());
    }
}

} // namespace talvora
