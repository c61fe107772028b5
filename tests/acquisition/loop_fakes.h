#pragma once
#include "acquisition/ChartLoop.h"
#include "acquisition/DisplayLoop.h"
#include "acquisition/SampleSource.h"

#include <QString>
#include <deque>
#include <utility>
#include <vector>

// Readings in script order; when the script runs dry the last one repeats.
class ScriptedSource : public ISampleSource {
public:
    ScriptedSource() = default;
    ScriptedSource(std::initializer_list<double> v) : values(v) {}
    double ReadSample(int deviceCode) override
    {
        codes.push_back(deviceCode);
        if (values.empty())
            return last;
        last = values.front();
        values.pop_front();
        return last;
    }
    std::deque<double> values;
    double last = 0;
    std::vector<int> codes;
};

struct RecordingChartView : IChartView {
    QString max, value, min, sampleTime, title;
    std::vector<std::pair<double, double>> points;
    std::vector<qint64> stamps;
    std::vector<QString> sampleTimes;  // every text the label was given
    double axisMax = -1;
    int axisOffset = 1;
    int axisSets = 0;
    int repaints = 0;
    void SetMaxText(const QString& t) override { max = t; }
    void SetValueText(const QString& t) override { value = t; }
    void SetMinText(const QString& t) override { min = t; }
    void SetSampleTimeText(const QString& t) override
    {
        sampleTime = t;
        sampleTimes.push_back(t);
    }
    void SetChartTitle(const QString& t) override { title = t; }
    void AppendPoint(double x, double y, qint64 stamp) override
    {
        points.emplace_back(x, y);
        stamps.push_back(stamp);
    }
    void SetTimeAxis(double m, int off) override
    {
        axisMax = m;
        axisOffset = off;
        ++axisSets;
    }
    void RepaintWindow() override { ++repaints; }
};

struct RecordingDisplayView : IDisplayView {
    QString value, pos, neg, status;
    int valueFont = -1, posFont = -1, negFont = -1;
    int repaints = 0;
    void SetValue(const QString& t, int f) override
    {
        value = t;
        if (f)
            valueFont = f;
    }
    void SetPosMax(const QString& t, int f) override
    {
        pos = t;
        if (f)
            posFont = f;
    }
    void SetNegMax(const QString& t, int f) override
    {
        neg = t;
        if (f)
            negFont = f;
    }
    void SetStatus(const QString& t) override { status = t; }
    void RepaintMainWindow() override { ++repaints; }
};
