#include "qtlanguage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLibraryInfo>
#include <QMessageBox>

QtLanguage::QtLanguage(QComboBox *selector, QObject *parent)
    : QObject(parent)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    chineseAvailable = chinese.load(QStringLiteral("qtbase_zh_CN"), folder);
    connect(
        selector, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &QtLanguage::follow);
    follow(selector->currentIndex());
}

void QtLanguage::keepButtonTexts(QMessageBox *box)
{
    const auto buttonBoxes = box->findChildren<QDialogButtonBox *>();
    for (QDialogButtonBox *buttons : buttonBoxes)
        buttons->installEventFilter(this);
}

bool QtLanguage::eventFilter(QObject *, QEvent *event)
{
    return event->type() == QEvent::LanguageChange;
}

void QtLanguage::follow(int index)
{
    if (index == 0 && chineseAvailable)
        QCoreApplication::installTranslator(&chinese);
    else
        QCoreApplication::removeTranslator(&chinese);
}
