#ifndef WIDGETFORM_H
#define WIDGETFORM_H

class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;
class QWidget;

// The window's widget tree. The pointers own nothing: every widget is a Qt
// child of the window or of its group box, every spacer belongs to its layout.
class WidgetForm
{
public:
    QGridLayout *gridLayout;
    QHBoxLayout *horizontalLayout_4;
    QLabel *label_4;
    QComboBox *comboBox;
    QSpacerItem *spacerAfterLanguage;
    QLabel *label_10;
    QComboBox *comboBox_2;
    QLabel *label_6;
    QLabel *label_8;
    QSpacerItem *spacerAfterSuccessCount;
    QLabel *label_7;
    QLabel *label_9;
    QGroupBox *groupBox;
    QHBoxLayout *horizontalLayout;
    QLabel *label;
    QComboBox *comPort;
    QSpacerItem *spacerAfterPort;
    QLabel *label_2;
    QComboBox *comBaudRate;
    QSpacerItem *spacerAfterBaudRate;
    QPushButton *comButton;
    QGroupBox *groupBox_2;
    QVBoxLayout *verticalLayout;
    QHBoxLayout *horizontalLayout_2;
    QLabel *label_3;
    QLineEdit *transmitPath;
    QPushButton *transmitBrowse;
    QPushButton *transmitButton;
    QHBoxLayout *horizontalLayout_3;
    QLabel *label_5;
    QProgressBar *transmitProgress;

    // Builds the tree into window, sets the default texts and connects the
    // window's on_<object>_<signal> slots last, so building runs no slot.
    void setupUi(QWidget *window);
    void retranslateUi(QWidget *window);
};

#endif
