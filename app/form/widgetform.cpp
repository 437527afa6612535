#include "widgetform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWidget>

namespace
{

// The window cannot be resized: the layout was drawn for exactly this size.
const QSize windowSize(444, 255);
const int layoutSpacing = 6;
const int layoutMargin = 11;
// Enough for the whole baud rate list without a scroll bar.
const int maxVisibleEntries = 12;

template <typename T> T *named(T *object, const char *name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

// A spacer that takes up the slack of the fixed window width.
QSpacerItem *horizontalSpacer(int width)
{
    return new QSpacerItem(width, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
}

// The entries get their texts by index in retranslateUi, like every other text.
void appendEmptyEntries(QComboBox *list, int count)
{
    for (int i = 0; i < count; ++i)
        list->insertItem(list->count(), QString());
}

void setSpacingAndMargins(QLayout *layout)
{
    layout->setSpacing(layoutSpacing);
    layout->setContentsMargins(layoutMargin, layoutMargin, layoutMargin, layoutMargin);
}

QString text(const char *sourceText)
{
    return QCoreApplication::translate("Widget", sourceText, nullptr);
}

} // namespace

void WidgetForm::setupUi(QWidget *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("Widget"));
    window->resize(windowSize);
    window->setMinimumSize(windowSize);
    window->setMaximumSize(windowSize);

    gridLayout = named(new QGridLayout(window), "gridLayout");
    setSpacingAndMargins(gridLayout);

    horizontalLayout_4 = named(new QHBoxLayout(), "horizontalLayout_4");
    horizontalLayout_4->setSpacing(layoutSpacing);
    label_4 = named(new QLabel(window), "label_4");
    horizontalLayout_4->addWidget(label_4);
    comboBox = named(new QComboBox(window), "comboBox");
    appendEmptyEntries(comboBox, 2);
    horizontalLayout_4->addWidget(comboBox);
    spacerAfterLanguage = horizontalSpacer(60);
    horizontalLayout_4->addItem(spacerAfterLanguage);
    label_10 = named(new QLabel(window), "label_10");
    horizontalLayout_4->addWidget(label_10);
    comboBox_2 = named(new QComboBox(window), "comboBox_2");
    appendEmptyEntries(comboBox_2, 2);
    horizontalLayout_4->addWidget(comboBox_2);
    label_6 = named(new QLabel(window), "label_6");
    horizontalLayout_4->addWidget(label_6);
    label_8 = named(new QLabel(window), "label_8");
    horizontalLayout_4->addWidget(label_8);
    spacerAfterSuccessCount = horizontalSpacer(20);
    horizontalLayout_4->addItem(spacerAfterSuccessCount);
    label_7 = named(new QLabel(window), "label_7");
    horizontalLayout_4->addWidget(label_7);
    label_9 = named(new QLabel(window), "label_9");
    horizontalLayout_4->addWidget(label_9);
    gridLayout->addLayout(horizontalLayout_4, 0, 0, 1, 1);

    groupBox = named(new QGroupBox(window), "groupBox");
    horizontalLayout = named(new QHBoxLayout(groupBox), "horizontalLayout");
    setSpacingAndMargins(horizontalLayout);
    label = named(new QLabel(groupBox), "label");
    horizontalLayout->addWidget(label);
    comPort = named(new QComboBox(groupBox), "comPort");
    comPort->setMaxVisibleItems(maxVisibleEntries);
    horizontalLayout->addWidget(comPort);
    spacerAfterPort = horizontalSpacer(40);
    horizontalLayout->addItem(spacerAfterPort);
    label_2 = named(new QLabel(groupBox), "label_2");
    horizontalLayout->addWidget(label_2);
    comBaudRate = named(new QComboBox(groupBox), "comBaudRate");
    appendEmptyEntries(comBaudRate, 11);
    comBaudRate->setMaxVisibleItems(maxVisibleEntries);
    horizontalLayout->addWidget(comBaudRate);
    spacerAfterBaudRate = horizontalSpacer(40);
    horizontalLayout->addItem(spacerAfterBaudRate);
    comButton = named(new QPushButton(groupBox), "comButton");
    horizontalLayout->addWidget(comButton);
    gridLayout->addWidget(groupBox, 1, 0, 1, 1);

    groupBox_2 = named(new QGroupBox(window), "groupBox_2");
    verticalLayout = named(new QVBoxLayout(groupBox_2), "verticalLayout");
    setSpacingAndMargins(verticalLayout);
    horizontalLayout_2 = named(new QHBoxLayout(), "horizontalLayout_2");
    horizontalLayout_2->setSpacing(layoutSpacing);
    label_3 = named(new QLabel(groupBox_2), "label_3");
    horizontalLayout_2->addWidget(label_3);
    transmitPath = named(new QLineEdit(groupBox_2), "transmitPath");
    transmitPath->setReadOnly(true);
    horizontalLayout_2->addWidget(transmitPath);
    transmitBrowse = named(new QPushButton(groupBox_2), "transmitBrowse");
    transmitBrowse->setEnabled(false);
    horizontalLayout_2->addWidget(transmitBrowse);
    transmitButton = named(new QPushButton(groupBox_2), "transmitButton");
    transmitButton->setEnabled(false);
    horizontalLayout_2->addWidget(transmitButton);
    verticalLayout->addLayout(horizontalLayout_2);

    horizontalLayout_3 = named(new QHBoxLayout(), "horizontalLayout_3");
    horizontalLayout_3->setSpacing(layoutSpacing);
    label_5 = named(new QLabel(groupBox_2), "label_5");
    horizontalLayout_3->addWidget(label_5);
    transmitProgress = named(new QProgressBar(groupBox_2), "transmitProgress");
    transmitProgress->setValue(0);
    horizontalLayout_3->addWidget(transmitProgress);
    verticalLayout->addLayout(horizontalLayout_3);
    gridLayout->addWidget(groupBox_2, 2, 0, 1, 1);

    retranslateUi(window);
    comBaudRate->setCurrentIndex(3);

    // Last, so that the index changes made while building (the first entry
    // appended to comboBox selects it) reach none of the window's slots.
    QMetaObject::connectSlotsByName(window);
}

void WidgetForm::retranslateUi(QWidget *window)
{
    window->setWindowTitle(text("Trelvo 下载工具  V" TRELVO_VERSION));
    label_4->setText(text("语言/language："));
    comboBox->setItemText(0, text("中文"));
    comboBox->setItemText(1, text("English"));
    label_10->setText(text("模式："));
    comboBox_2->setItemText(0, text("手动"));
    comboBox_2->setItemText(1, text("自动"));
    label_6->setText(text("成功："));
    label_8->setText(text("0"));
    label_7->setText(text("失败："));
    label_9->setText(text("0"));
    groupBox->setTitle(text("配置串口"));
    label->setText(text("端口："));
    label_2->setText(text("波特率："));
    comBaudRate->setItemText(0, text("921600"));
    comBaudRate->setItemText(1, text("460800"));
    comBaudRate->setItemText(2, text("230400"));
    comBaudRate->setItemText(3, text("115200"));
    comBaudRate->setItemText(4, text("57600"));
    comBaudRate->setItemText(5, text("38400"));
    comBaudRate->setItemText(6, text("19200"));
    comBaudRate->setItemText(7, text("9600"));
    comBaudRate->setItemText(8, text("4800"));
    comBaudRate->setItemText(9, text("2400"));
    comBaudRate->setItemText(10, text("1200"));
    comBaudRate->setCurrentText(text("115200"));
    comButton->setText(text("打开串口"));
    groupBox_2->setTitle(text("文件发送"));
    label_3->setText(text("文件路径："));
    transmitBrowse->setText(text("浏览..."));
    transmitButton->setText(text("发送"));
    label_5->setText(text("传输进度："));
}
