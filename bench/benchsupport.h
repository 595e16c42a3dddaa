#pragma once

// Small helpers shared by the benchmark programs: clocks, CPU time, statistics and
// the one-line result format that bench_report reads back from bench_player.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include <sys/resource.h>

namespace bench {

// CLOCK_MONOTONIC is shared by all processes of the machine, so a parent can hand its
// reading to a child and the child can measure from the moment it was spawned.
inline qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline double secondsSince(qint64 startNs)
{
    return double(monotonicNs() - startNs) / 1e9;
}

inline double toSeconds(const timeval &tv)
{
    return double(tv.tv_sec) + double(tv.tv_usec) / 1e6;
}

// User plus system CPU seconds of this process, all threads.
inline double processCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return toSeconds(ru.ru_utime) + toSeconds(ru.ru_stime);
}

// Percentile by linear interpolation between the closest ranks; NaN when empty.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * double(values.size() - 1);
    const auto below = size_t(std::floor(rank));
    const auto above = std::min(below + 1, values.size() - 1);
    const double weight = rank - double(below);
    return values[below] * (1.0 - weight) + values[above] * weight;
}

inline double median(std::vector<double> values)
{
    return percentile(std::move(values), 50.0);
}

// One result line: "RESULT key=value key=value ...". Values carry no spaces.
class ResultLine
{
public:
    ResultLine &add(const QString &key, double value, int decimals = 3)
    {
        fields << key + QLatin1Char('=') + QString::number(value, 'f', decimals);
        return *this;
    }
    ResultLine &add(const QString &key, const QString &value)
    {
        QString clean = value;
        clean.replace(QLatin1Char(' '), QLatin1Char('_'));
        fields << key + QLatin1Char('=') + clean;
        return *this;
    }
    void print() const
    {
        std::printf("RESULT %s\n", fields.join(QLatin1Char(' ')).toUtf8().constData());
        std::fflush(stdout);
    }

private:
    QStringList fields;
};

// Reads the last RESULT line of a program's output back into key/value pairs.
inline QMap<QString, QString> parseResult(const QByteArray &output)
{
    QMap<QString, QString> values;
    const QList<QByteArray> lines = output.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (!line->startsWith("RESULT "))
            continue;
        const QStringList fields = QString::fromUtf8(line->mid(7)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &field : fields) {
            const qsizetype eq = field.indexOf(QLatin1Char('='));
            if (eq > 0)
                values.insert(field.left(eq), field.mid(eq + 1));
        }
        break;
    }
    return values;
}

} // namespace bench
