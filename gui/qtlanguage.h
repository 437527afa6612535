#ifndef QTLANGUAGE_H
#define QTLANGUAGE_H

#include <QObject>
#include <QTranslator>

class QComboBox;
class QMessageBox;

// Qt's own texts, those of the file dialog and of standard buttons, in the
// language chosen in the window: Chinese at index 0 of the selector, English
// at any other, as for the window's own texts. While Chinese is chosen, Qt's
// shipped Chinese translation is installed for the whole application; where
// the system lacks it, Qt's texts stay English.
class QtLanguage : public QObject
{
    Q_OBJECT

public:
    QtLanguage(QComboBox *selector, QObject *parent);

    // Qt gives every standard button its own word again when the language
    // changes; the buttons of box keep the words the window gave them.
    void keepButtonTexts(QMessageBox *box);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow(int index);

    QTranslator chinese;
    bool chineseAvailable = false;
};

#endif
