#include "offscreentestmain.h"
#include "widgetform.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResource>
#include <QSpacerItem>
#include <QTranslator>
#include <QtEndian>
#include <QtTest>

// Stands in for the real window: the same four slots that are wired by
// object name, each counting its calls.
class TestWindow : public QWidget
{
    Q_OBJECT

public:
    int comButtonClicks = 0;
    int browseClicks = 0;
    int transmitClicks = 0;
    QList<int> languageIndices;

private slots:
    void on_comButton_clicked() { ++comButtonClicks; }
    void on_transmitBrowse_clicked() { ++browseClicks; }
    void on_transmitButton_clicked() { ++transmitClicks; }
    void on_comboBox_currentIndexChanged(int index) { languageIndices.append(index); }
};

struct BuiltWindow {
    explicit BuiltWindow(const QString &objectName = QString())
    {
        window.setObjectName(objectName);
        form.setupUi(&window);
    }
    QList<int> clickCounts() const
    {
        return { window.comButtonClicks, window.browseClicks, window.transmitClicks };
    }

    TestWindow window;
    WidgetForm form;
};

// Records every lookup and translates nothing, so the source texts still show.
class RecordingTranslator : public QTranslator
{
public:
    struct Lookup {
        QByteArray context;
        QString source;
        bool disambiguated;
        int n;
    };
    mutable QVector<Lookup> lookups;

    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
        int n) const override
    {
        lookups.append({ context, QString::fromUtf8(sourceText), disambiguation != nullptr, n });
        return QString();
    }
};

// Every named member of the form, so a test can tell that setupUi stored the
// object it created under the right member.
static QHash<QString, QObject *> namedMembers(const WidgetForm &f)
{
    const QList<QObject *> members = { f.gridLayout, f.horizontalLayout_4, f.label_4, f.comboBox,
        f.label_10, f.comboBox_2, f.label_6, f.label_8, f.label_7, f.label_9, f.groupBox,
        f.horizontalLayout, f.label, f.comPort, f.label_2, f.comBaudRate, f.comButton, f.groupBox_2,
        f.verticalLayout, f.horizontalLayout_2, f.label_3, f.transmitPath, f.transmitBrowse,
        f.transmitButton, f.horizontalLayout_3, f.label_5, f.transmitProgress };
    QHash<QString, QObject *> byName;
    for (QObject *member : members)
        byName.insert(member->objectName(), member);
    return byName;
}

// Where the object sits, in the words of the widget tree table:
// "installed on groupBox", "horizontalLayout_4 box 3", "gridLayout row 1, column 0".
static QString placeOf(QObject *object, QWidget *window)
{
    if (auto *layout = qobject_cast<QLayout *>(object)) {
        auto *owner = qobject_cast<QWidget *>(layout->parent());
        if (owner && owner->layout() == layout)
            return QStringLiteral("installed on ") + owner->objectName();
    }
    for (QLayout *container : window->findChildren<QLayout *>()) {
        for (int i = 0; i < container->count(); ++i) {
            QLayoutItem *item = container->itemAt(i);
            if (item->widget() != object && item->layout() != object)
                continue;
            QString place = container->objectName();
            if (auto *grid = qobject_cast<QGridLayout *>(container)) {
                int row, column, rowSpan, columnSpan;
                grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
                place += QStringLiteral(" row %1, column %2").arg(row).arg(column);
                if (rowSpan != 1 || columnSpan != 1)
                    place += QStringLiteral(", spanning %1 x %2").arg(rowSpan).arg(columnSpan);
            } else {
                place += QStringLiteral(" box %1").arg(i + 1);
                if (int stretch = qobject_cast<QBoxLayout *>(container)->stretch(i))
                    place += QStringLiteral(", stretch %1").arg(stretch);
            }
            if (item->alignment() != 0)
                place += QStringLiteral(", aligned");
            return place;
        }
    }
    return QStringLiteral("nowhere");
}

static QString textOf(QObject *object)
{
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->text();
    if (auto *group = qobject_cast<QGroupBox *>(object))
        return group->title();
    return qobject_cast<QWidget *>(object)->windowTitle();
}

class TestWidgetForm : public QObject
{
    Q_OBJECT

private slots:
    void tree_data();
    void tree();
    void childOrder_data();
    void childOrder();
    void layouts_data();
    void layouts();
    void spacers_data();
    void spacers();
    void fixedSize_data();
    void fixedSize();
    void defaultTexts_data();
    void defaultTexts();
    void textsAreLookedUpUnderWidget();
    void lists_data();
    void lists();
    void initialStates();
    void iconResource();
    void objectName_data();
    void objectName();
    void buildingRunsNoSlot();
    void controlsReachSlots_data();
    void controlsReachSlots();
};

void TestWidgetForm::tree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("place");

    auto row = [](const char *name, const char *className, const char *parent, const char *place) {
        QTest::newRow(name) << QString::fromLatin1(name) << QByteArray(className)
                            << QString::fromLatin1(parent) << QString::fromLatin1(place);
    };
    row("gridLayout", "QGridLayout", "Widget", "installed on Widget");
    row("horizontalLayout_4", "QHBoxLayout", "gridLayout", "gridLayout row 0, column 0");
    row("label_4", "QLabel", "Widget", "horizontalLayout_4 box 1");
    row("comboBox", "QComboBox", "Widget", "horizontalLayout_4 box 2");
    row("label_10", "QLabel", "Widget", "horizontalLayout_4 box 4");
    row("comboBox_2", "QComboBox", "Widget", "horizontalLayout_4 box 5");
    row("label_6", "QLabel", "Widget", "horizontalLayout_4 box 6");
    row("label_8", "QLabel", "Widget", "horizontalLayout_4 box 7");
    row("label_7", "QLabel", "Widget", "horizontalLayout_4 box 9");
    row("label_9", "QLabel", "Widget", "horizontalLayout_4 box 10");
    row("groupBox", "QGroupBox", "Widget", "gridLayout row 1, column 0");
    row("horizontalLayout", "QHBoxLayout", "groupBox", "installed on groupBox");
    row("label", "QLabel", "groupBox", "horizontalLayout box 1");
    row("comPort", "QComboBox", "groupBox", "horizontalLayout box 2");
    row("label_2", "QLabel", "groupBox", "horizontalLayout box 4");
    row("comBaudRate", "QComboBox", "groupBox", "horizontalLayout box 5");
    row("comButton", "QPushButton", "groupBox", "horizontalLayout box 7");
    row("groupBox_2", "QGroupBox", "Widget", "gridLayout row 2, column 0");
    row("verticalLayout", "QVBoxLayout", "groupBox_2", "installed on groupBox_2");
    row("horizontalLayout_2", "QHBoxLayout", "verticalLayout", "verticalLayout box 1");
    row("label_3", "QLabel", "groupBox_2", "horizontalLayout_2 box 1");
    row("transmitPath", "QLineEdit", "groupBox_2", "horizontalLayout_2 box 2");
    row("transmitBrowse", "QPushButton", "groupBox_2", "horizontalLayout_2 box 3");
    row("transmitButton", "QPushButton", "groupBox_2", "horizontalLayout_2 box 4");
    row("horizontalLayout_3", "QHBoxLayout", "verticalLayout", "verticalLayout box 2");
    row("label_5", "QLabel", "groupBox_2", "horizontalLayout_3 box 1");
    row("transmitProgress", "QProgressBar", "groupBox_2", "horizontalLayout_3 box 2");
}

void TestWidgetForm::tree()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QString, parent);
    QFETCH(QString, place);

    BuiltWindow built;
    const QList<QObject *> found = built.window.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QObject *object = found.first();
    QCOMPARE(namedMembers(built.form).value(name), object);
    QCOMPARE(QByteArray(object->metaObject()->className()), className);
    QCOMPARE(object->parent()->objectName(), parent);
    QCOMPARE(placeOf(object, &built.window), place);
}

// Creation order is child order, and child order is the keyboard focus chain.
void TestWidgetForm::childOrder_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QStringList>("children");

    QTest::newRow("window") << "Widget"
                            << QStringList { "gridLayout", "label_4", "comboBox", "label_10",
                                   "comboBox_2", "label_6", "label_8", "label_7", "label_9",
                                   "groupBox", "groupBox_2" };
    QTest::newRow("gridLayout") << "gridLayout" << QStringList { "horizontalLayout_4" };
    QTest::newRow("groupBox") << "groupBox"
                              << QStringList { "horizontalLayout", "label", "comPort", "label_2",
                                     "comBaudRate", "comButton" };
    QTest::newRow("groupBox_2") << "groupBox_2"
                                << QStringList { "verticalLayout", "label_3", "transmitPath",
                                       "transmitBrowse", "transmitButton", "label_5",
                                       "transmitProgress" };
    QTest::newRow("verticalLayout")
        << "verticalLayout" << QStringList { "horizontalLayout_2", "horizontalLayout_3" };
}

void TestWidgetForm::childOrder()
{
    QFETCH(QString, parent);
    QFETCH(QStringList, children);

    BuiltWindow built;
    QObject *owner = parent == built.window.objectName()
        ? &built.window
        : built.window.findChild<QObject *>(parent);
    QVERIFY(owner);
    QStringList names;
    for (QObject *child : owner->children())
        names << child->objectName();
    QCOMPARE(names, children);
}

void TestWidgetForm::layouts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("items");

    const int set = 11;
    const int nested = 0;
    QTest::newRow("gridLayout: the three rows") << "gridLayout" << 6 << set << 3;
    QTest::newRow("horizontalLayout_4: top bar") << "horizontalLayout_4" << 6 << nested << 10;
    QTest::newRow("horizontalLayout: port group") << "horizontalLayout" << 6 << set << 7;
    QTest::newRow("verticalLayout: file group") << "verticalLayout" << 6 << set << 2;
    QTest::newRow("horizontalLayout_2: file line") << "horizontalLayout_2" << 6 << nested << 4;
    QTest::newRow("horizontalLayout_3: progress line") << "horizontalLayout_3" << 6 << nested << 2;
}

void TestWidgetForm::layouts()
{
    QFETCH(QString, name);
    QFETCH(int, spacing);
    QFETCH(int, margin);
    QFETCH(int, items);

    BuiltWindow built;
    auto *layout = built.window.findChild<QLayout *>(name);
    QVERIFY(layout);
    QCOMPARE(layout->spacing(), spacing);
    QCOMPARE(layout->contentsMargins(), QMargins(margin, margin, margin, margin));
    QCOMPARE(layout->count(), items);
}

void TestWidgetForm::spacers_data()
{
    QTest::addColumn<int>("member");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("box");
    QTest::addColumn<QSize>("sizeHint");

    QTest::newRow("spacerAfterLanguage") << 0 << "horizontalLayout_4" << 3 << QSize(60, 20);
    QTest::newRow("spacerAfterSuccessCount") << 1 << "horizontalLayout_4" << 8 << QSize(20, 20);
    QTest::newRow("spacerAfterPort") << 2 << "horizontalLayout" << 3 << QSize(40, 20);
    QTest::newRow("spacerAfterBaudRate") << 3 << "horizontalLayout" << 6 << QSize(40, 20);
}

void TestWidgetForm::spacers()
{
    QFETCH(int, member);
    QFETCH(QString, layout);
    QFETCH(int, box);
    QFETCH(QSize, sizeHint);

    BuiltWindow built;
    const WidgetForm &f = built.form;
    QSpacerItem *const members[] = { f.spacerAfterLanguage, f.spacerAfterSuccessCount,
        f.spacerAfterPort, f.spacerAfterBaudRate };
    auto *container = built.window.findChild<QLayout *>(layout);
    QVERIFY(container);
    QSpacerItem *spacer = container->itemAt(box - 1)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer, members[member]);
    QCOMPARE(spacer->sizeHint(), sizeHint);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
}

void TestWidgetForm::fixedSize_data()
{
    QTest::addColumn<QSize>("requested");

    QTest::newRow("larger") << QSize(800, 600);
    QTest::newRow("smaller") << QSize(200, 100);
    QTest::newRow("wider only") << QSize(600, 255);
    QTest::newRow("taller only") << QSize(444, 400);
}

void TestWidgetForm::fixedSize()
{
    QFETCH(QSize, requested);

    BuiltWindow built;
    QWidget &window = built.window;
    const QSize fixed(444, 255);
    QCOMPARE(window.size(), fixed);
    QCOMPARE(window.minimumSize(), fixed);
    QCOMPARE(window.maximumSize(), fixed);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(requested);
    QCOMPARE(window.size(), fixed);
}

void TestWidgetForm::defaultTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    // Every colon is the full-width U+FF1A, written as an escape so that an
    // ASCII colon cannot pass for it.
    QTest::newRow("window title, two blanks before the version")
        << "Widget" << QStringLiteral("Trelvo \u4e0b\u8f7d\u5de5\u5177  V1.04");
    QTest::newRow("label_4: language caption")
        << "label_4" << QStringLiteral("\u8bed\u8a00/language\uff1a");
    QTest::newRow("label_10: mode caption") << "label_10" << QStringLiteral("\u6a21\u5f0f\uff1a");
    QTest::newRow("label_6: success caption") << "label_6" << QStringLiteral("\u6210\u529f\uff1a");
    QTest::newRow("label_8: success count") << "label_8" << QStringLiteral("0");
    QTest::newRow("label_7: failure caption") << "label_7" << QStringLiteral("\u5931\u8d25\uff1a");
    QTest::newRow("label_9: failure count") << "label_9" << QStringLiteral("0");
    QTest::newRow("groupBox title") << "groupBox" << QStringLiteral("\u914d\u7f6e\u4e32\u53e3");
    QTest::newRow("label: port caption") << "label" << QStringLiteral("\u7aef\u53e3\uff1a");
    QTest::newRow("label_2: baud rate caption")
        << "label_2" << QStringLiteral("\u6ce2\u7279\u7387\uff1a");
    QTest::newRow("comButton") << "comButton" << QStringLiteral("\u6253\u5f00\u4e32\u53e3");
    QTest::newRow("groupBox_2 title") << "groupBox_2" << QStringLiteral("\u6587\u4ef6\u53d1\u9001");
    QTest::newRow("label_3: file path caption")
        << "label_3" << QStringLiteral("\u6587\u4ef6\u8def\u5f84\uff1a");
    QTest::newRow("transmitBrowse, three ASCII full stops")
        << "transmitBrowse" << QStringLiteral("\u6d4f\u89c8...");
    QTest::newRow("transmitButton") << "transmitButton" << QStringLiteral("\u53d1\u9001");
    QTest::newRow("label_5: progress caption")
        << "label_5" << QStringLiteral("\u4f20\u8f93\u8fdb\u5ea6\uff1a");
}

void TestWidgetForm::defaultTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    BuiltWindow built;
    QObject *target = name == built.window.objectName() ? &built.window
                                                        : built.window.findChild<QObject *>(name);
    QVERIFY(target);
    QCOMPARE(textOf(target), text);
}

// Every text is looked up under the window's class name, so that a translator
// for "Widget" would reach all of them; and in the order the form sets them.
void TestWidgetForm::textsAreLookedUpUnderWidget()
{
    RecordingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    {
        BuiltWindow built;
    }
    QCoreApplication::removeTranslator(&translator);

    const QStringList expected = {
        QStringLiteral("Trelvo \u4e0b\u8f7d\u5de5\u5177  V1.04"),
        QStringLiteral("\u8bed\u8a00/language\uff1a"),
        QStringLiteral("\u4e2d\u6587"),
        QStringLiteral("English"),
        QStringLiteral("\u6a21\u5f0f\uff1a"),
        QStringLiteral("\u624b\u52a8"),
        QStringLiteral("\u81ea\u52a8"),
        QStringLiteral("\u6210\u529f\uff1a"),
        QStringLiteral("0"),
        QStringLiteral("\u5931\u8d25\uff1a"),
        QStringLiteral("0"),
        QStringLiteral("\u914d\u7f6e\u4e32\u53e3"),
        QStringLiteral("\u7aef\u53e3\uff1a"),
        QStringLiteral("\u6ce2\u7279\u7387\uff1a"),
        QStringLiteral("921600"),
        QStringLiteral("460800"),
        QStringLiteral("230400"),
        QStringLiteral("115200"),
        QStringLiteral("57600"),
        QStringLiteral("38400"),
        QStringLiteral("19200"),
        QStringLiteral("9600"),
        QStringLiteral("4800"),
        QStringLiteral("2400"),
        QStringLiteral("1200"),
        QStringLiteral("115200"),
        QStringLiteral("\u6253\u5f00\u4e32\u53e3"),
        QStringLiteral("\u6587\u4ef6\u53d1\u9001"),
        QStringLiteral("\u6587\u4ef6\u8def\u5f84\uff1a"),
        QStringLiteral("\u6d4f\u89c8..."),
        QStringLiteral("\u53d1\u9001"),
        QStringLiteral("\u4f20\u8f93\u8fdb\u5ea6\uff1a"),
    };
    // Qt's own classes look up their texts under their own names.
    QStringList sources;
    for (const RecordingTranslator::Lookup &lookup : qAsConst(translator.lookups)) {
        if (lookup.context != "Widget")
            continue;
        QVERIFY2(!lookup.disambiguated, qPrintable(lookup.source));
        QCOMPARE(lookup.n, -1);
        sources << lookup.source;
    }
    QCOMPARE(sources, expected);
}

void TestWidgetForm::lists_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("currentIndex");
    QTest::addColumn<int>("maxVisibleItems");

    QTest::newRow("comboBox: language")
        << "comboBox" << QStringList { QStringLiteral("\u4e2d\u6587"), QStringLiteral("English") }
        << 0 << 10;
    QTest::newRow("comboBox_2: mode")
        << "comboBox_2"
        << QStringList { QStringLiteral("\u624b\u52a8"), QStringLiteral("\u81ea\u52a8") } << 0
        << 10;
    QTest::newRow("comPort: filled by the window") << "comPort" << QStringList() << -1 << 12;
    QTest::newRow("comBaudRate: fastest first, 115200 chosen")
        << "comBaudRate"
        << QStringList { "921600", "460800", "230400", "115200", "57600", "38400", "19200", "9600",
               "4800", "2400", "1200" }
        << 3 << 12;
}

void TestWidgetForm::lists()
{
    QFETCH(QString, name);
    QFETCH(QStringList, entries);
    QFETCH(int, currentIndex);
    QFETCH(int, maxVisibleItems);

    BuiltWindow built;
    auto *list = built.window.findChild<QComboBox *>(name);
    QVERIFY(list);
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) {
        texts << list->itemText(i);
        QVERIFY(list->itemIcon(i).isNull());
        QVERIFY(!list->itemData(i, Qt::UserRole).isValid());
    }
    QCOMPARE(texts, entries);
    QCOMPARE(list->currentIndex(), currentIndex);
    QCOMPARE(list->maxVisibleItems(), maxVisibleItems);
}

void TestWidgetForm::initialStates()
{
    BuiltWindow built;
    const WidgetForm &f = built.form;
    QVERIFY(f.comboBox->isEnabled());
    QVERIFY(f.comboBox_2->isEnabled());
    QVERIFY(f.comPort->isEnabled());
    QVERIFY(f.comBaudRate->isEnabled());
    QVERIFY(f.comButton->isEnabled());
    QVERIFY(f.transmitPath->isEnabled());
    QVERIFY(f.transmitPath->isReadOnly());
    QVERIFY(f.transmitPath->text().isEmpty());
    QVERIFY(!f.transmitBrowse->isEnabled());
    QVERIFY(!f.transmitButton->isEnabled());
    QCOMPARE(f.transmitProgress->value(), 0);
    QCOMPARE(f.transmitProgress->minimum(), 0);
    QCOMPARE(f.transmitProgress->maximum(), 100);
}

void TestWidgetForm::iconResource()
{
    QResource resource(QStringLiteral(":/icon.png"));
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);

    QFile file(QStringLiteral(":/icon.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    // IHDR: width and height big-endian at 16 and 20, bit depth at 24, colour type at 25.
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 16), 225u);
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 20), 225u);
    QCOMPARE(int(png.at(24)), 8);
    QCOMPARE(int(png.at(25)), 6); // truecolour with alpha

    const QImage image(QStringLiteral(":/icon.png"));
    QCOMPARE(image.size(), QSize(225, 225));
    QVERIFY(image.hasAlphaChannel());
}

void TestWidgetForm::objectName_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");

    QTest::newRow("unnamed window gets Widget") << QString() << "Widget";
    QTest::newRow("named window keeps its name") << "downloadWindow"
                                                 << "downloadWindow";
}

void TestWidgetForm::objectName()
{
    QFETCH(QString, given);
    QFETCH(QString, expected);

    BuiltWindow built(given);
    QCOMPARE(built.window.objectName(), expected);
    built.form.comButton->click();
    QCOMPARE(built.window.comButtonClicks, 1);
}

void TestWidgetForm::buildingRunsNoSlot()
{
    BuiltWindow built;
    // The first entry appended to comboBox made it current while building.
    QCOMPARE(built.form.comboBox->currentIndex(), 0);
    QCOMPARE(built.window.languageIndices, QList<int>());
    QCOMPARE(built.clickCounts(), QList<int>({ 0, 0, 0 }));
}

void TestWidgetForm::controlsReachSlots_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QList<int>>("languageIndices");

    QTest::newRow("comButton clicked") << "comButton" << QList<int> { 1, 0, 0 } << QList<int>();
    QTest::newRow("transmitBrowse clicked")
        << "transmitBrowse" << QList<int> { 0, 1, 0 } << QList<int>();
    QTest::newRow("transmitButton clicked")
        << "transmitButton" << QList<int> { 0, 0, 1 } << QList<int>();
    QTest::newRow("comboBox to English")
        << "comboBox" << QList<int> { 0, 0, 0 } << QList<int> { 1 };
    QTest::newRow("comboBox_2 to automatic: no slot")
        << "comboBox_2" << QList<int> { 0, 0, 0 } << QList<int>();
    QTest::newRow("comBaudRate to 460800: no slot")
        << "comBaudRate" << QList<int> { 0, 0, 0 } << QList<int>();
}

void TestWidgetForm::controlsReachSlots()
{
    QFETCH(QString, control);
    QFETCH(QList<int>, clicks);
    QFETCH(QList<int>, languageIndices);

    BuiltWindow built;
    built.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&built.window));
    QObject *target = built.window.findChild<QObject *>(control);
    if (auto *button = qobject_cast<QAbstractButton *>(target)) {
        button->setEnabled(true);
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        auto *list = qobject_cast<QComboBox *>(target);
        QVERIFY(list);
        list->setCurrentIndex(1);
        list->setCurrentIndex(1);
    }
    QCOMPARE(built.clickCounts(), clicks);
    QCOMPARE(built.window.languageIndices, languageIndices);
}

OFFSCREEN_TEST_MAIN(TestWidgetForm)
#include "tst_widgetform.moc"
