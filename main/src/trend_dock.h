// «Тренды»: a monitoring session's hits as four plots beside the hits table — every hit's
// amplitude against time, cumulative hits and energy against time, the amplitude distribution
// and the located sources — with a channel filter, a time span, mouse zoom and pan, and each
// plot's export as PNG, SVG or CSV. Depends on trend_series.h and QCustomPlot.
#pragma once

#include "trend_series.h"

#include <QDockWidget>
#include <array>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QStackedWidget;
class QTimer;
class QCustomPlot;
class QCPGraph;
class QCPBars;
class QCPColorMap;
class QCPColorScale;

class TrendDock : public QDockWidget
{
    Q_OBJECT
public:
    enum Plot { amplitudePlot, cumulativePlot, distributionPlot, sourcesPlot, plotCount };
    // The time span shown: the whole session, its last hour or day (up to its latest hit), or
    // the interval of the two date-time fields.
    enum Span { wholeSession, lastHour, lastDay, chosenInterval };
    enum Format { pngFormat, svgFormat, csvFormat };
    static constexpr int channelCount = 4;

    explicit TrendDock(QWidget* parent = nullptr);

    // A session's hits (any order); the plots replace what they showed.
    void setHits(const QVector<TrendHit>& hits);
    // Hits a capture added; the plots are extended, not built anew, while the span shown
    // starts where it did and the hits come after those kept.
    void appendHits(const QVector<TrendHit>& hits);
    // No session: the dock says so instead of showing plots.
    void clear();

    // The folder the export dialogs open in (the session's); empty: the working directory.
    void setExportFolder(const QString& folder) { exportFolder = folder; }
    // How sources are located: on the line between two sensors spacingMetres apart, or in the
    // plane of the sensors' places (channel 1 first).
    void setLocationLayout(bool planar, const QList<QPointF>& sensors, double spacingMetres);

    QCustomPlot* plot(Plot which) const { return plots[which]; }
    // Writes a plot as a picture (at its size on the screen, no smaller than 800 x 500) or as
    // the CSV of what it shows; false with the cause in words.
    bool exportPlot(Plot which, const QString& name, Format format, QString& cause) const;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void slot_filterChanged();
    void slot_spanChanged(int span);

private:
    QWidget* makeControls();
    void setUpAmplitudePlot();
    void setUpCumulativePlot();
    void setUpDistributionPlot();
    void setUpSourcesPlot();
    // Mouse zoom and pan; a zoom or a drag stops the plot following its data, a double click
    // brings it back.
    void setUpInteraction(Plot which);
    void askExport(Plot which);

    TrendFilter currentFilter() const;
    // Every series anew from the hits kept.
    void rebuild();
    // The series and plots extended by hits[begin ...].
    void extend(qsizetype begin);
    void showDistribution();
    void showSources();
    // The located sources the sources plot leaves out: beyond the line's bins, or beyond the
    // cells while the plane shows a density.
    qint64 sourcesBeyond() const;
    void showSensors();
    void updateLegend();
    void updateSpanFields();
    // The ranges of the plots that follow their data.
    void follow();
    void followPlot(Plot which);
    void followSources();
    void replotAll();

    std::string csvOf(Plot which) const;

    QStackedWidget* pages = nullptr;
    std::array<QCheckBox*, channelCount> channelBoxes {};
    QComboBox* spanBox = nullptr;
    QDateTimeEdit* fromEdit = nullptr;
    QDateTimeEdit* toEdit = nullptr;
    QTimer* intervalTimer = nullptr;
    std::array<QCustomPlot*, plotCount> plots {};
    std::array<bool, plotCount> following {};
    std::array<QCPGraph*, channelCount> amplitudeGraphs {};
    QCPGraph* hitsGraph = nullptr;
    QCPGraph* energyGraph = nullptr;
    QCPBars* distributionBars = nullptr;
    QCPBars* lineBars = nullptr;
    QCPGraph* pointsGraph = nullptr;
    QCPGraph* sensorsGraph = nullptr;
    QCPColorMap* densityMap = nullptr;
    QCPColorScale* densityScale = nullptr;

    bool session = false;
    QVector<TrendHit> hits; // in time order
    TrendFilter filter; // what the series were built with
    CumulativeSeries cumulative;
    Histogram amplitudes;
    SourceSeries sources;
    bool planar = false;
    QString exportFolder;
    QList<QPointF> sensors;
    double spacing = 1;
};
