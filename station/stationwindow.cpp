#include "stationwindow.h"

#include "baudrates.h"
#include "portwatcher.h"
#include "progressdelegate.h"
#include "qtlanguage.h"
#include "slotmodel.h"
#include "totalspanel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace
{

// Production orders run to thousands of boards; beyond that nobody counts.
constexpr int LargestTarget = 1000000;
// Enough for the operator to check an image against the work order.
constexpr int DigestShown = 16;

// The USB adapter's product name the system reports for a port, also when
// the port is named by a link such as /dev/serial/by-id/...
QString portDescription(const QString &port)
{
    const QString device = QFileInfo(port).canonicalFilePath();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == port || info.systemLocation() == device)
            return info.description();
    }
    return QString();
}

QString defaultLog()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("records.sqlite"));
}

QPushButton *bigButton(QWidget *parent, const char *name, const char *colour)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    QFont font = button->font();
    font.setPointSize(font.pointSize() * 2);
    font.setBold(true);
    button->setFont(font);
    button->setMinimumHeight(56);
    button->setMinimumWidth(140);
    button->setStyleSheet(QStringLiteral("QPushButton:enabled { background: %1; color: white }")
                              .arg(QLatin1String(colour)));
    return button;
}

} // namespace

StationWindow::StationWindow(const QStringList &ports, const QStringList &patterns, QWidget *parent)
    : QWidget(parent)
    , model(new SlotModel(this))
    , run(new ProductionRun(model, this))
{
    buildLayout();
    connect(run, &ProductionRun::finished, this, &StationWindow::runEnded);
    connect(language, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &StationWindow::retranslate);
    connect(imageButton, &QPushButton::clicked, this, &StationWindow::chooseImage);
    connect(logButton, &QPushButton::clicked, this, &StationWindow::chooseLog);
    connect(startButton, &QPushButton::clicked, this, &StationWindow::start);
    connect(stopButton, &QPushButton::clicked, run, &ProductionRun::stop);
    connect(resetButton, &QPushButton::clicked, this, &StationWindow::resetTotals);
    connect(run, &ProductionRun::spoolChanged, this, [this](int waiting) {
        spooled = waiting;
        showSpool();
    });
    connect(run, &ProductionRun::imageChangedOnDisk, this, [this] {
        imageChanged = true;
        showImage();
    });
    restoreSettings(ports);
    if (!patterns.isEmpty()) {
        auto *watcher = new PortWatcher(patterns, this);
        connect(watcher, &PortWatcher::portAppeared, this, [this](const QString &port) {
            watchedPorts.removeAll(port);
            watchedPorts << port;
            addPort(port, true);
        });
        connect(watcher, &PortWatcher::portVanished, this, &StationWindow::portVanished);
        watcher->start();
    }
    new QtLanguage(language, this);
    setAcceptDrops(true);
    setRunning(false);
    retranslate();
}

void StationWindow::buildLayout()
{
    setObjectName(QStringLiteral("StationWindow"));
    auto *layout = new QVBoxLayout(this);

    auto *top = new QHBoxLayout;
    languageLabel = new QLabel(this);
    language = new QComboBox(this);
    language->setObjectName(QStringLiteral("language"));
    language->addItems({ QStringLiteral("中文"), QStringLiteral("English") });
    top->addWidget(languageLabel);
    top->addWidget(language);
    top->addStretch();
    layout->addLayout(top);

    auto *groups = new QHBoxLayout;
    imageGroup = new QGroupBox(this);
    imageGroup->setObjectName(QStringLiteral("imageGroup"));
    auto *imageLayout = new QVBoxLayout(imageGroup);
    imageName = new QLabel(imageGroup);
    imageName->setObjectName(QStringLiteral("imageName"));
    QFont nameFont = imageName->font();
    nameFont.setPointSize(nameFont.pointSize() * 3 / 2);
    nameFont.setBold(true);
    imageName->setFont(nameFont);
    imageDetails = new QLabel(imageGroup);
    imageDetails->setObjectName(QStringLiteral("imageDetails"));
    imageDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
    imageButton = new QPushButton(imageGroup);
    imageButton->setObjectName(QStringLiteral("imageButton"));
    imageLayout->addWidget(imageName);
    imageLayout->addWidget(imageDetails);
    imageLayout->addWidget(imageButton, 0, Qt::AlignLeft);
    groups->addWidget(imageGroup, 1);

    settingsGroup = new QGroupBox(this);
    settingsGroup->setObjectName(QStringLiteral("settingsGroup"));
    auto *settingsLayout = new QGridLayout(settingsGroup);
    baudLabel = new QLabel(settingsGroup);
    baudRate = new QComboBox(settingsGroup);
    baudRate->setObjectName(QStringLiteral("baudRate"));
    baudRate->addItems(baudRates());
    handshake = new QCheckBox(settingsGroup);
    handshake->setObjectName(QStringLiteral("handshake"));
    targetLabel = new QLabel(settingsGroup);
    target = new QSpinBox(settingsGroup);
    target->setObjectName(QStringLiteral("target"));
    target->setRange(0, LargestTarget);
    logLabel = new QLabel(settingsGroup);
    logPath = new QLineEdit(settingsGroup);
    logPath->setObjectName(QStringLiteral("logPath"));
    logButton = new QPushButton(QStringLiteral("…"), settingsGroup);
    settingsLayout->addWidget(baudLabel, 0, 0);
    settingsLayout->addWidget(baudRate, 0, 1);
    settingsLayout->addWidget(handshake, 0, 2, 1, 2);
    settingsLayout->addWidget(targetLabel, 1, 0);
    settingsLayout->addWidget(target, 1, 1);
    settingsLayout->addWidget(logLabel, 2, 0);
    settingsLayout->addWidget(logPath, 2, 1, 1, 2);
    settingsLayout->addWidget(logButton, 2, 3);
    groups->addWidget(settingsGroup, 1);
    layout->addLayout(groups);

    auto *figures = new QHBoxLayout;
    totals = new TotalsPanel(model, this);
    resetButton = new QPushButton(this);
    resetButton->setObjectName(QStringLiteral("resetButton"));
    figures->addWidget(totals, 1);
    figures->addWidget(resetButton, 0, Qt::AlignBottom);
    layout->addLayout(figures);

    view = new QTableView(this);
    view->setObjectName(QStringLiteral("slots"));
    view->setModel(model);
    view->setItemDelegateForColumn(SlotModel::StateColumn, new ProgressDelegate(view));
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->verticalHeader()->hide();
    QFont rowFont = view->font();
    rowFont.setPointSize(rowFont.pointSize() * 4 / 3);
    view->setFont(rowFont);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() * 8 / 5);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->horizontalHeader()->setSectionResizeMode(SlotModel::StateColumn, QHeaderView::Stretch);
    layout->addWidget(view, 1);

    auto *bottom = new QHBoxLayout;
    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("problem"));
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold"));
    spool = new QLabel(this);
    spool->setObjectName(QStringLiteral("spool"));
    spool->setStyleSheet(QStringLiteral("color: #e65100; font-weight: bold"));
    startButton = bigButton(this, "startButton", "#2e7d32");
    stopButton = bigButton(this, "stopButton", "#c62828");
    bottom->addWidget(problem, 1);
    bottom->addWidget(spool);
    bottom->addWidget(startButton);
    bottom->addWidget(stopButton);
    layout->addLayout(bottom);
    resize(1000, 800);
}

void StationWindow::retranslate()
{
    const bool inEnglish = english();
    setWindowTitle(text("Trelvo 量产烧录站", "Trelvo production station"));
    languageLabel->setText(QStringLiteral("语言/language："));
    imageGroup->setTitle(text("固件", "Image"));
    imageButton->setText(text("选择固件…", "Choose image…"));
    settingsGroup->setTitle(text("设置", "Settings"));
    baudLabel->setText(text("波特率：", "Baud rate:"));
    handshake->setText(text("自动应答引导菜单（回 1）", "Answer the boot monitor (\"1\")"));
    targetLabel->setText(text("目标数量：", "Target count:"));
    target->setSpecialValueText(text("不限", "no limit"));
    target->setSuffix(text(" 块", " boards"));
    logLabel->setText(text("记录文件：", "Record log:"));
    resetButton->setText(text("统计清零", "Reset totals"));
    startButton->setText(text("开始", "Start"));
    stopButton->setText(text("停止", "Stop"));
    model->setEnglish(inEnglish);
    totals->setEnglish(inEnglish);
    showImage();
    showProblem();
    showSpool();
}

void StationWindow::restoreSettings(const QStringList &ports)
{
    QSettings settings;
    restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    language->setCurrentIndex(settings.value(QStringLiteral("language"), 0).toInt());
    baudRate->setCurrentText(
        settings.value(QStringLiteral("baud"), QString::number(DefaultBaudRate)).toString());
    handshake->setChecked(settings.value(QStringLiteral("handshake"), true).toBool());
    target->setValue(settings.value(QStringLiteral("target"), 0).toInt());
    logPath->setText(settings.value(QStringLiteral("log"), defaultLog()).toString());
    checkedPorts = settings.value(QStringLiteral("checkedPorts")).toStringList();
    uncheckedPorts = settings.value(QStringLiteral("uncheckedPorts")).toStringList();
    const QString remembered = settings.value(QStringLiteral("image")).toString();
    if (!remembered.isEmpty())
        setImage(remembered);

    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : system)
        addPort(info.portName(), false);
    for (const QString &port : ports)
        addPort(port, true);
}

void StationWindow::saveSettings() const
{
    QStringList checked = checkedPorts;
    QStringList unchecked = uncheckedPorts;
    const QStringList listed = model->ports();
    const QStringList used = model->usedPorts();
    for (const QString &port : listed) {
        checked.removeAll(port);
        unchecked.removeAll(port);
        (used.contains(port) ? checked : unchecked).append(port);
    }
    QSettings settings;
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("language"), language->currentIndex());
    settings.setValue(QStringLiteral("baud"), baudRate->currentText());
    settings.setValue(QStringLiteral("handshake"), handshake->isChecked());
    settings.setValue(QStringLiteral("target"), target->value());
    settings.setValue(QStringLiteral("log"), logPath->text());
    settings.setValue(QStringLiteral("image"), image);
    settings.setValue(QStringLiteral("checkedPorts"), checked);
    settings.setValue(QStringLiteral("uncheckedPorts"), unchecked);
}

// A port the operator named on the command line or by a pattern is meant to
// be used; one the system merely lists is not, until it is checked once.
// One device is one slot, whatever names lead to it: two sessions on one
// line would answer each other's board.
void StationWindow::addPort(const QString &port, bool named)
{
    if (sharesDevice(port, model->ports()))
        return;
    const bool use = checkedPorts.contains(port) || (named && !uncheckedPorts.contains(port));
    const int row = model->addPort(port, portDescription(port), use);
    if (run->running() && model->usedPorts().contains(model->port(row)))
        run->addPort(port);
}

// While a run is on, the port's session shows it gone and takes it up
// again when it is back; the row goes once the run has ended.
void StationWindow::portVanished(const QString &port)
{
    if (run->running())
        return;
    watchedPorts.removeAll(port);
    model->removePort(port);
}

void StationWindow::setImage(const QString &path)
{
    image = path;
    imageChanged = false;
    QFile file(path);
    imageSize = !path.isEmpty() && file.open(QIODevice::ReadOnly) ? file.size() : -1;
    imageDigest = imageSize >= 0 ? fileSha256(path).left(DigestShown) : QByteArray();
    showImage();
}

bool StationWindow::running() const { return run->running(); }

void StationWindow::showImage()
{
    if (image.isEmpty()) {
        imageName->setText(text("未选择固件（可拖放到窗口）", "No image (drop one here)"));
        imageDetails->clear();
        return;
    }
    imageName->setText(QFileInfo(image).fileName());
    if (imageSize < 0) {
        imageDetails->setText(text("无法读取：", "Cannot be read: ") + image);
        return;
    }
    QString details = text("%1 字节　SHA-256 %2…", "%1 bytes   SHA-256 %2…")
                          .arg(imageSize)
                          .arg(QString::fromLatin1(imageDigest));
    if (imageChanged)
        details += text("\n文件在磁盘上已被改动；本次仍烧录开始时读取的版本。",
            "\nThe file changed on disk; this run still sends the one read at Start.");
    imageDetails->setText(details);
    imageDetails->setToolTip(image);
}

void StationWindow::chooseImage()
{
    const QString chosen = QFileDialog::getOpenFileName(this, text("选择固件", "Choose image"),
        image.isEmpty() ? QString() : QFileInfo(image).path());
    if (!chosen.isEmpty())
        setImage(chosen);
}

void StationWindow::chooseLog()
{
    const QString chosen
        = QFileDialog::getSaveFileName(this, text("记录文件", "Record log"), logPath->text(),
            text("记录 (*.sqlite *.db *.jsonl *.csv)", "Records (*.sqlite *.db *.jsonl *.csv)"),
            nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty())
        logPath->setText(chosen);
}

void StationWindow::start()
{
    if (logPath->text().trimmed().isEmpty())
        logPath->setText(defaultLog());
    ProductionRun::Settings settings;
    settings.image = image;
    settings.baudRate = baudRate->currentText().toInt();
    settings.handshake = handshake->isChecked();
    settings.target = target->value();
    settings.log = logPath->text();
    if (settings.log == defaultLog())
        QDir().mkpath(QFileInfo(settings.log).path());
    problemShown = run->start(settings, model->usedPorts());
    problemDetail = run->problemDetail();
    showProblem();
    if (problemShown != ProductionRun::Problem::None)
        return;
    imageSize = run->image()->size();
    imageDigest = run->image()->sha256().left(DigestShown);
    imageChanged = false;
    showImage();
    totals->runStarted();
    setRunning(true);
}

void StationWindow::runEnded()
{
    const QStringList watched = watchedPorts;
    for (const QString &port : watched) {
        if (!devicePresent(port)) {
            watchedPorts.removeAll(port);
            model->removePort(port);
        }
    }
    totals->runEnded();
    setRunning(false);
    if (closeAfterRun)
        close();
}

// The one place where the window changes between idle and running, so that
// nothing an operator could change mid-shift is left open.
void StationWindow::setRunning(bool on)
{
    imageGroup->setEnabled(!on);
    settingsGroup->setEnabled(!on);
    model->setLocked(on);
    startButton->setEnabled(!on);
    stopButton->setEnabled(on);
}

void StationWindow::resetTotals()
{
    const QMessageBox::StandardButton answer
        = QMessageBox::question(this, text("统计清零", "Reset totals"),
            text("确定把成功、失败和产能统计全部清零吗？",
                "Set the done and failed counts and boards per hour back to zero?"));
    if (answer != QMessageBox::Yes)
        return;
    model->resetCounts();
    totals->reset();
}

void StationWindow::showProblem()
{
    switch (problemShown) {
    case ProductionRun::Problem::None:
        problem->clear();
        return;
    case ProductionRun::Problem::NoImage:
        problem->setText(text("请先选择固件。", "Choose an image first."));
        return;
    case ProductionRun::Problem::UnreadableImage:
        problem->setText(
            text("固件无法读取：%1", "The image cannot be read: %1").arg(problemDetail));
        return;
    case ProductionRun::Problem::NoPort:
        problem->setText(text("请至少勾选一个端口。", "Check at least one port."));
        return;
    case ProductionRun::Problem::UnusableLog:
        problem->setText(
            text("记录文件无法打开：%1", "The record log cannot be opened: %1").arg(problemDetail));
        return;
    }
}

// The database of the line is away: the station goes on, and the operator
// sees how many records wait to be written.
void StationWindow::showSpool()
{
    spool->setText(spooled == 0
            ? QString()
            : text("%1 条记录等待写入数据库", "%1 records wait for the database").arg(spooled));
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (!run->running()) {
        saveSettings();
        event->accept();
        return;
    }
    event->ignore();
    if (closeAfterRun)
        return;
    const QMessageBox::StandardButton answer
        = QMessageBox::question(this, text("正在烧录", "Programming in progress"),
            text("正在烧录中。停止所有端口并退出吗？",
                "Boards are being programmed. Stop every port and quit?"));
    if (answer != QMessageBox::Yes)
        return;
    closeAfterRun = true;
    run->stop();
}

void StationWindow::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!run->running() && urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void StationWindow::dropEvent(QDropEvent *event)
{
    setImage(event->mimeData()->urls().first().toLocalFile());
    event->acceptProposedAction();
}

bool StationWindow::english() const { return language->currentIndex() != 0; }

QString StationWindow::text(const char *chinese, const char *inEnglish) const
{
    return QString::fromUtf8(english() ? inEnglish : chinese);
}
