#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

namespace talvora {

// A measurement for the call benchmarks: how late the window's thread runs a timer of 0 ms,
// sampled every few milliseconds, and how many of the peer's pictures it shows, from the first
// picture on (the call, not the start-up). Enabled by the environment variable
// TALVORA_MEASURE_LAG naming a file, which gets one line when the program ends:
// "samples N p50_ms X p99_ms Y max_ms Z pictures P seconds S".
class MainThreadLag : public QObject {
    Q_OBJECT
public:
    static constexpr int kSampleEveryMs = 5;

    explicit MainThreadLag(QString reportPath, QObject* parent = nullptr);
    ~MainThreadLag() override;

    void pictureShown();

private:
    void sample();

    QString m_reportPath;
    QTimer m_every;
    QElapsedTimer m_clock;
    std::vector<qint64> m_lagsUs;
    quint64 m_pictures = 0;
    bool m_waiting = false;
};

} // namespace talvora
