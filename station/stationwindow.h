#ifndef STATIONWINDOW_H
#define STATIONWINDOW_H

#include "productionrun.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class SlotModel;
class TotalsPanel;

// The production window: one row per port, one image for all, settings an
// operator cannot change by accident while the station runs, Start and Stop,
// and the shift's totals. What it is set to is remembered between runs.
class StationWindow : public QWidget
{
    Q_OBJECT

public:
    // ports: lines to list besides the system's serial ports; patterns:
    // device paths to list as they appear (and no longer once they vanish).
    explicit StationWindow(const QStringList &ports, const QStringList &patterns = QStringList(),
        QWidget *parent = nullptr);

    void setImage(const QString &path);
    bool running() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildLayout();
    void retranslate();
    void restoreSettings(const QStringList &ports);
    void saveSettings() const;
    void addPort(const QString &port, bool named);
    void portVanished(const QString &port);
    void chooseImage();
    void chooseLog();
    void start();
    void runEnded();
    void setRunning(bool running);
    void resetTotals();
    void showImage();
    void showProblem();
    void showSpool();
    bool english() const;
    QString text(const char *chinese, const char *inEnglish) const;

    SlotModel *model;
    ProductionRun *run;
    QComboBox *language;
    QLabel *languageLabel;
    QGroupBox *imageGroup;
    QLabel *imageName;
    QLabel *imageDetails;
    QPushButton *imageButton;
    QGroupBox *settingsGroup;
    QLabel *baudLabel;
    QComboBox *baudRate;
    QCheckBox *handshake;
    QLabel *targetLabel;
    QSpinBox *target;
    QLabel *logLabel;
    QLineEdit *logPath;
    QPushButton *logButton;
    TotalsPanel *totals;
    QPushButton *resetButton;
    QTableView *view;
    QLabel *problem;
    QLabel *spool;
    int spooled = 0;
    QPushButton *startButton;
    QPushButton *stopButton;
    QString image;
    qint64 imageSize = -1;
    QByteArray imageDigest;
    ProductionRun::Problem problemShown = ProductionRun::Problem::None;
    QString problemDetail;
    QStringList checkedPorts;
    QStringList watchedPorts;
    bool imageChanged = false;
    QStringList uncheckedPorts;
    bool closeAfterRun = false;
};

#endif
